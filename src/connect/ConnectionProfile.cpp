#include "connect/ConnectionProfile.h"

#include <QStringBuilder>

namespace veltrane {
namespace {

// A value that holds ';' or begins with '{' is enclosed in braces (a '}' inside doubled), so
// the parser reads it back exactly as typed; every other value goes in unchanged.
QString FieldValue(const QString& value) {
    if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('{'))) {
        return value;
    }
    QString escaped = value;
    escaped.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') % escaped % QLatin1Char('}');
}

} // namespace

QString SybaseConnectionString(const ConnectionProfile& p) {
    return QStringLiteral("Provider=ASEOLEDB;Data Source=") %
           FieldValue(p.Server % QLatin1Char(':') % p.Port) % QStringLiteral(";User Id=") %
           FieldValue(p.User) % QStringLiteral(";Password=") % FieldValue(p.Password) %
           QLatin1Char(';') % QStringLiteral(";Catalog=") % FieldValue(p.Database);
}

QString MySQLConnectionString(const ConnectionProfile& p) {
    return QStringLiteral("DRIVER={MySQL ODBC 5.1 Driver};") % QStringLiteral("SERVER=") %
           FieldValue(p.Server) % QLatin1Char(';') % QStringLiteral("USER=") % FieldValue(p.User) %
           QLatin1Char(';') % QStringLiteral("DATABASE=") % FieldValue(p.Database) %
           QLatin1Char(';') % QStringLiteral("PASSWORD=") % FieldValue(p.Password) %
           QLatin1Char(';') % QStringLiteral("PORT=") % FieldValue(p.Port) % QLatin1Char(';');
}

} // namespace veltrane
