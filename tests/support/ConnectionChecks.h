#pragma once

// Checks on statements run through a Connection, shared by the integration tests.

#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"

#include <string>

namespace veltrane::testing {

// The error `statement` fails with; fails the test (and returns an empty error) when it runs.
DatabaseError ExecuteError(Connection& connection, const std::string& statement);

// The first value of a single-row SELECT; fails the test when there is no row.
DbValue Scalar(Connection& connection, const std::string& select);

} // namespace veltrane::testing
