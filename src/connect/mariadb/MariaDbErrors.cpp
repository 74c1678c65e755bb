#include "connect/mariadb/MariaDbErrors.h"

namespace veltrane::mariadb {

namespace {

// Client and server error numbers after which the session is gone: the library has closed
// the socket or the server has ended the session, so every further statement fails alike.
bool EndsTheSession(unsigned code) {
    switch (code) {
    case 1053: // ER_SERVER_SHUTDOWN
    case 1927: // ER_CONNECTION_KILLED
    case 2006: // CR_SERVER_GONE_ERROR
    case 2013: // CR_SERVER_LOST
    case 2055: // CR_SERVER_LOST_EXTENDED
    case 4031: // ER_CLIENT_INTERACTION_TIMEOUT (MySQL 8)
        return true;
    default:
        return false;
    }
}

} // namespace

FailureReason ReasonOf(unsigned code) {
    if (EndsTheSession(code))
        return FailureReason::ConnectionLost;
    switch (code) {
    case 1051: // ER_BAD_TABLE_ERROR, a DROP TABLE of a table that is not there
        return FailureReason::NoSuchTable;
    case 1050: // ER_TABLE_EXISTS_ERROR
        return FailureReason::TableExists;
    case 1114: // ER_RECORD_FILE_FULL
    case 1021: // ER_DISK_FULL
        return FailureReason::TargetFull;
    case 1290: // ER_OPTION_PREVENTS_STATEMENT (--read-only)
    case 1836: // ER_READ_ONLY_MODE
        return FailureReason::ReadOnly;
    default:
        return FailureReason::Refused;
    }
}

DatabaseError ClientError(MYSQL* mysql, const std::string& statement) {
    const unsigned code = mysql_errno(mysql);
    return DatabaseError(mysql_error(mysql), static_cast<int>(code), statement, ReasonOf(code));
}

DatabaseError StatementError(MYSQL_STMT* stmt, const std::string& statement) {
    const unsigned code = mysql_stmt_errno(stmt);
    return DatabaseError(mysql_stmt_error(stmt), static_cast<int>(code), statement, ReasonOf(code));
}

} // namespace veltrane::mariadb
