#include "ConnectionChecks.h"

#include <gtest/gtest.h>

namespace veltrane::testing {

DatabaseError ExecuteError(Connection& connection, const std::string& statement) {
    try {
        connection.Execute(statement);
    } catch (const DatabaseError& e) {
        return e;
    }
    ADD_FAILURE() << "no error from: " << statement;
    return DatabaseError("");
}

DbValue Scalar(Connection& connection, const std::string& select) {
    auto rs = connection.Execute(select);
    EXPECT_NE(rs, nullptr) << select;
    if (!rs)
        return {};
    EXPECT_FALSE(rs->IsEOF()) << select;
    return rs->IsEOF() ? DbValue() : rs->Value(0);
}

} // namespace veltrane::testing
