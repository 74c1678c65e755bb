#include "catalogue/TableCatalogue.h"

#include "app/shell/Yield.h"
#include "connect/Connection.h"
#include "connect/access/SqlText.h"

#include <memory>

namespace veltrane {

namespace {
// A name as the list shows it. MySQL reports names in binary columns when the server runs a
// binary character set; those bytes are the name in UTF-8 all the same.
QString NameText(const DbValue& value) {
    if (value.GetKind() == DbValue::Kind::Binary)
        return QString::fromStdString(value.AsBinary().bytes);
    return QString::fromStdString(value.ToText());
}
// The database user the login works as: the owner whose tables a bare name reaches first
// ("dbo" for the database's owner).
QString SybaseLoginUser(Connection& connection) {
    const std::string statement = "select user_name()";
    std::unique_ptr<ResultSet> user = connection.Execute(statement);
    if (!user || user->IsEOF())
        throw DatabaseError("user_name() returned no row.", 0, statement);
    return NameText(user->Value(0));
}
} // namespace

void ListMySQLTables(TableList& list, const ConnectionProfile& mysqlProfile) {
    const std::string statement = "SHOW TABLES;";
    Connection connection;
    // A client-side cursor, so that RecordCount is exact.
    connection.SetCursorLocation(CursorLocation::Client);
    connection.SetCommandTimeout(kDefaultCommandTimeoutSeconds);
    connection.Open(MySQLConnectionString(mysqlProfile).toStdString());
    std::unique_ptr<ResultSet> tables = connection.Execute(statement);
    if (!tables)
        throw DatabaseError("SHOW TABLES returned no result set.", 0, statement);
    list.Clear();
    const std::int64_t rows = tables->RecordCount();
    for (std::int64_t i = 1; i <= rows; ++i) {
        Yield();
        list.AddItem(NameText(tables->Value(0)));
        tables->MoveNext();
    }
    tables->Close();
}

void ListSybaseTables(TableList& list, const ConnectionProfile& sybaseProfile) {
    Connection connection;
    connection.SetCommandTimeout(kDefaultCommandTimeoutSeconds);
    connection.Open(SybaseConnectionString(sybaseProfile).toStdString());
    std::unique_ptr<ResultSet> schema = connection.OpenSchema(SchemaKind::Tables);
    const QString loginUser = SybaseLoginUser(connection);
    list.Clear();
    const int typeField = schema->FieldIndex("TABLE_TYPE");
    const int nameField = schema->FieldIndex("TABLE_NAME");
    const int ownerField = schema->FieldIndex("TABLE_OWNER");
    while (!schema->IsEOF()) {
        if (NameText(schema->Value(typeField)) == QStringLiteral("TABLE")) {
            Yield();
            const QString name = NameText(schema->Value(nameField));
            if (!IsSybaseSystemTableName(name)) {
                const QString owner = NameText(schema->Value(ownerField));
                list.AddEntry(name, TableOwner{owner, owner == loginUser});
            }
        }
        schema->MoveNext();
    }
    schema->Close();
    connection.Close();
}

bool IsSybaseSystemTableName(const QString& name) {
    return name.startsWith(QStringLiteral("sys"), Qt::CaseInsensitive);
}

std::string MySQLDropTableStatement(const QString& name) {
    return "DROP TABLE " + QuoteMySQLIdentifier(name.toStdString()) + ";";
}

std::string SybaseDropTableStatement(const QString& name, const TableOwner& owner) {
    return "DROP TABLE " + QuoteSybaseTableName(owner.name.toStdString(), name.toStdString());
}

std::string MySQLRenameTableStatement(const QString& oldName, const QString& newName) {
    return "RENAME TABLE " + QuoteMySQLIdentifier(oldName.toStdString()) + " TO " +
           QuoteMySQLIdentifier(newName.toStdString()) + ";";
}

} // namespace veltrane
