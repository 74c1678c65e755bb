#include "connect/ConnectionTests.h"

#include "connect/Connection.h"

#include <exception>

namespace veltrane {
namespace {

bool Opens(const QString& connectionString) {
    try {
        Connection connection;
        connection.Open(connectionString.toStdString());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

bool TestMySQLConnection(const ConnectionProfile& mysqlProfile) {
    return Opens(MySQLConnectionString(mysqlProfile));
}

bool TestSybaseConnection(const ConnectionProfile& sybaseProfile) {
    return Opens(SybaseConnectionString(sybaseProfile));
}

} // namespace veltrane
