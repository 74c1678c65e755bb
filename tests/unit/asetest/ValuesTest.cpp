// Types, conversions and the ASE storage rules.
#include "EngineTestSupport.h"

namespace asetest::testing {
namespace {

using ValuesTest = EngineTest;

TEST_F(ValuesTest, Placeholder) {
    EXPECT_EQ(Scalar("select 1").integer, 1);
}

} // namespace
} // namespace asetest::testing
