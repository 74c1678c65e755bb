#pragma once

#include "catalogue/lists/TableList.h"
#include "connect/ConnectionProfile.h"
#include "connect/ConnectionString.h"
#include "connect/access/DatabaseError.h"

#include <string>

namespace veltrane {

// Fills `list` with the tables and views of the MySQL database ("SHOW TABLES;"). The list is
// cleared only once the connection and the statement have succeeded, so a failure before that
// leaves the earlier entries; every failure throws to the caller. Yields once per row.
void ListMySQLTables(TableList& list, const ConnectionProfile& mysqlProfile);

// Fills `list` with the user tables of the Sybase ASE database from the tables schema: rows of
// type "TABLE" exactly, without ASE's own tables. Each entry shows the bare name and keeps its
// owner, and whether that owner is the database user the login works as (user_name()), so two
// owners' tables of one name are listed twice and each entry reaches its own table. Same
// clearing and failure rule as ListMySQLTables.
void ListSybaseTables(TableList& list, const ConnectionProfile& sybaseProfile);

// ASE's system tables all begin with "sys"; a user table that merely contains those letters
// (ecosystem, my_sys_log) is the user's.
bool IsSybaseSystemTableName(const QString& name);

// The statements of the drop and rename handlers, with every name quoted so that no character
// in it can end its quotes early.
std::string MySQLDropTableStatement(const QString& name);
// Names the entry's owner when it is known ([owner].[name]), else the login's own table ([name]).
std::string SybaseDropTableStatement(const QString& name, const TableOwner& owner);
std::string MySQLRenameTableStatement(const QString& oldName, const QString& newName);

} // namespace veltrane
