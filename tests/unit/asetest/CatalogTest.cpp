// Owners, views, system tables and sp_tables.
#include "EngineTestSupport.h"

namespace asetest::testing {
namespace {

using CatalogTest = EngineTest;

TEST_F(CatalogTest, Placeholder) {
    EXPECT_EQ(Scalar("select 1").integer, 1);
}

} // namespace
} // namespace asetest::testing
