#pragma once

#include <QString>

namespace veltrane {

// The five free-text fields of one server's connection settings, exactly as typed.
struct ConnectionProfile {
    QString Server;
    QString Port;
    QString User;
    QString Password;
    QString Database;
};

// "Provider=ASEOLEDB;Data Source=<server>:<port>;User Id=<user>;Password=<password>;;Catalog=<db>"
QString SybaseConnectionString(const ConnectionProfile& profile);

// "DRIVER={MySQL ODBC 5.1
// Driver};SERVER=<server>;USER=<user>;DATABASE=<db>;PASSWORD=<password>;PORT=<port>;"
QString MySQLConnectionString(const ConnectionProfile& profile);

} // namespace veltrane
