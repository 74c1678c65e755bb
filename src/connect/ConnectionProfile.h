#pragma once

#include <QString>

namespace veltrane {

// The five free-text fields of one server's connection settings, exactly as typed.
// The connection strings carry each value as typed; a value holding ';' or beginning with '{'
// is enclosed in braces ('}' doubled inside) so that it cannot split its pair.
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
