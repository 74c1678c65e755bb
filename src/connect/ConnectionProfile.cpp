#include "connect/ConnectionProfile.h"

#include <QStringBuilder>

namespace veltrane {

// The field values go in exactly as typed: a value holding ';' splits its pair, and the
// parser then reports the string as malformed instead of guessing.
QString SybaseConnectionString(const ConnectionProfile& p) {
    return QStringLiteral("Provider=ASEOLEDB;Data Source=") % p.Server % QLatin1Char(':') % p.Port %
           QStringLiteral(";User Id=") % p.User % QStringLiteral(";Password=") % p.Password %
           QLatin1Char(';') % QStringLiteral(";Catalog=") % p.Database;
}

QString MySQLConnectionString(const ConnectionProfile& p) {
    return QStringLiteral("DRIVER={MySQL ODBC 5.1 Driver};") % QStringLiteral("SERVER=") %
           p.Server % QLatin1Char(';') % QStringLiteral("USER=") % p.User % QLatin1Char(';') %
           QStringLiteral("DATABASE=") % p.Database % QLatin1Char(';') %
           QStringLiteral("PASSWORD=") % p.Password % QLatin1Char(';') % QStringLiteral("PORT=") %
           p.Port % QLatin1Char(';');
}

} // namespace veltrane
