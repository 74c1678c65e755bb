#pragma once

// The DatabaseErrors of the MySQL backend, each with the reason its number means.

#include "connect/access/DatabaseError.h"

#include <mysql.h>
#include <string>

namespace veltrane::mariadb {

// What a MySQL error number means for the caller's next step.
FailureReason ReasonOf(unsigned code);

// The last error of the connection, or of a prepared statement.
DatabaseError ClientError(MYSQL* mysql, const std::string& statement = {});
DatabaseError StatementError(MYSQL_STMT* stmt, const std::string& statement);

} // namespace veltrane::mariadb
