#include "connect/ProfileFields.h"

#include <gtest/gtest.h>
#include <utility>

namespace veltrane {
namespace {

TEST(ProfileFields, EachNumberedFieldHoldsOneMemberOfOneProfile) {
    using P = ConnectionProfile;
    constexpr ServerKind sybase = ServerKind::SybaseASE, mysql = ServerKind::MySQL;
    // Text1..Text10: the Sybase ASE frame's five, then the MySQL frame's, port last.
    const std::pair<ServerKind, QString P::*> expected[] = {
        {sybase, &P::Server},   {sybase, &P::Port},  {sybase, &P::User}, {sybase, &P::Password},
        {sybase, &P::Database}, {mysql, &P::Server}, {mysql, &P::User},  {mysql, &P::Password},
        {mysql, &P::Database},  {mysql, &P::Port},
    };
    ASSERT_EQ(kProfileFields.size(), std::size(expected));
    for (std::size_t i = 0; i < kProfileFields.size(); ++i) {
        const ProfileField& field = kProfileFields[i];
        SCOPED_TRACE(field.key);
        EXPECT_EQ(field.number, static_cast<int>(i) + 1);
        EXPECT_EQ(field.FieldName(), QStringLiteral("Text%1").arg(i + 1));
        EXPECT_EQ(field.server, expected[i].first);
        EXPECT_TRUE(field.member == expected[i].second);
        EXPECT_EQ(field.password, expected[i].second == &P::Password);
        EXPECT_EQ(&ProfileFieldOf(expected[i].first, expected[i].second), &field);
    }
}

} // namespace
} // namespace veltrane
