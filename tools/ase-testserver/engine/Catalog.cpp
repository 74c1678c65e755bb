// Databases and catalogs: SQLite files, object records, DDL, system tables and sp_tables.
#include "Executor.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <system_error>
#include <tuple>

namespace asetest {

namespace {

// Column types are kept by name in the catalog, so that the files do not depend on the order
// of AseType.
AseType TypeFromName(const std::string& name) {
    for (int i = 0; i <= static_cast<int>(AseType::Image); ++i) {
        if (TypeName(static_cast<AseType>(i)) == name) {
            return static_cast<AseType>(i);
        }
    }
    throw EngineError(3621, 16, "The catalog names an unknown column type '" + name + "'.");
}

// syscolumns.type: the storage type code, with the nullable variants ASE uses.
std::int64_t SystemTypeCode(const ColumnType& t) {
    const bool n = t.nullable;
    switch (t.type) {
    case AseType::TinyInt:
        return n ? 38 : 48;
    case AseType::SmallInt:
        return n ? 38 : 52;
    case AseType::Int:
        return n ? 38 : 56;
    case AseType::BigInt:
        return n ? 38 : 191;
    case AseType::USmallInt:
        return n ? 68 : 65;
    case AseType::UInt:
        return n ? 68 : 66;
    case AseType::UBigInt:
        return n ? 68 : 67;
    case AseType::Numeric:
        return n ? 108 : 63;
    case AseType::Decimal:
        return n ? 106 : 55;
    case AseType::Real:
        return n ? 109 : 59;
    case AseType::Float:
        return n ? 109 : 62;
    case AseType::Money:
        return n ? 110 : 60;
    case AseType::SmallMoney:
        return n ? 110 : 122;
    case AseType::Bit:
        return 50;
    case AseType::DateTime:
        return n ? 111 : 61;
    case AseType::SmallDateTime:
        return n ? 111 : 58;
    case AseType::Date:
        return n ? 123 : 49;
    case AseType::Time:
        return n ? 147 : 51;
    case AseType::BigDateTime:
        return 187;
    case AseType::BigTime:
        return 188;
    case AseType::Char:
        return n ? 39 : 47;
    case AseType::VarChar:
        return 39;
    case AseType::UniChar:
        return n ? 155 : 135;
    case AseType::UniVarChar:
        return 155;
    case AseType::Text:
        return 35;
    case AseType::UniText:
        return 174;
    case AseType::Binary:
        return n ? 37 : 45;
    case AseType::VarBinary:
        return 37;
    case AseType::Image:
        return 34;
    }
    return 0;
}

} // namespace

bool SessionImpl::DatabaseExists(const std::string& name) {
    DbHandle& master = Db("master");
    Query q(*master.db, "SELECT 1 FROM ase_databases WHERE name = ?");
    q.BindText(1, name);
    return q.Step();
}

DbHandle& SessionImpl::Db(const std::string& name) {
    auto it = dbs_.find(name);
    if (it != dbs_.end()) {
        return *it->second;
    }
    if (name != "master") {
        if (!DatabaseExists(name)) {
            throw EngineError(911, 11,
                              "Attempt to locate entry in sysdatabases for database '" + name +
                                  "' by name failed - no entry found under that name. Make sure "
                                  "that name is entered properly.");
        }
    }
    auto h = std::make_unique<DbHandle>();
    h->name = name;
    h->db = std::make_unique<SqliteDb>(engine_.FileFor(name));
    bool initialised = false;
    {
        Query q(*h->db, "SELECT 1 FROM sqlite_master WHERE name = 'ase_objects'");
        initialised = q.Step();
    }
    if (!initialised) {
        // Only a file that lost its catalog gets here: a new database is complete before it
        // is listed in master, and taking the write lock would wait for other sessions.
        h->db->Exec("BEGIN IMMEDIATE");
        try {
            h->db->Exec(kCatalogSchema);
            h->db->Exec("COMMIT");
        } catch (...) {
            h->db->Exec("ROLLBACK");
            throw;
        }
    }
    DbHandle& ref = *h;
    dbs_.emplace(name, std::move(h));
    return ref;
}

DbHandle& SessionImpl::DbForUse(const std::string& name) {
    DbHandle& h = Db(name);
    JoinTransaction(h);
    return h;
}

void SessionImpl::JoinTransaction(DbHandle& h) {
    if (tranCount_ > 0 && !h.inTransaction) {
        h.db->Exec("BEGIN IMMEDIATE");
        h.inTransaction = true;
    }
}

TablePtr SessionImpl::LoadObject(DbHandle& h, const std::string& owner, const std::string& name) {
    Query q(*h.db, "SELECT id, kind, view_text FROM ase_objects WHERE owner = ? AND name = ?");
    q.BindText(1, owner);
    q.BindText(2, name);
    if (!q.Step()) {
        return nullptr;
    }
    auto def = std::make_shared<TableDef>();
    def->id = q.Int(0);
    def->kind = q.Text(1).empty() ? 'U' : q.Text(1)[0];
    def->viewText = q.Text(2);
    def->owner = owner;
    def->name = name;
    def->storage = "t" + std::to_string(def->id);
    Query c(*h.db, "SELECT name, type, length, precision, scale, nullable FROM ase_columns "
                   "WHERE object_id = ? ORDER BY ordinal");
    c.BindInt(1, def->id);
    while (c.Step()) {
        ColumnDefinition col;
        col.name = c.Text(0);
        col.type.type = TypeFromName(c.Text(1));
        col.type.length = static_cast<int>(c.Int(2));
        col.type.precision = static_cast<int>(c.Int(3));
        col.type.scale = static_cast<int>(c.Int(4));
        col.type.nullable = c.Int(5) != 0;
        def->columns.push_back(std::move(col));
    }
    return def;
}

TablePtr SessionImpl::FindObject(DbHandle& h, const std::string& owner, const std::string& name) {
    const std::uint64_t gen = Generation();
    if (h.generation != gen) {
        h.tables.clear();
        h.generation = gen;
    }
    auto key = std::make_pair(owner, name);
    auto it = h.tables.find(key);
    if (it != h.tables.end()) {
        return it->second;
    }
    TablePtr t = LoadObject(h, owner, name);
    if (t) {
        h.tables.emplace(std::move(key), t);
    }
    return t;
}

TablePtr SessionImpl::Lookup(DbHandle& h, const ObjectName& n) {
    std::vector<std::string> owners{n.owner};
    if (n.owner.empty()) {
        owners = {bareNameUser_};
        if (bareNameUser_ != "dbo") {
            owners.emplace_back("dbo");
        }
    }
    for (const std::string& owner : owners) {
        if (TablePtr t = FindObject(h, owner, n.name)) {
            return t;
        }
    }
    if (owners.back() == "dbo") {
        if (const SystemTable* sys = FindSystemTable(n.name)) {
            auto def = std::make_shared<TableDef>();
            def->id = sys->id;
            def->owner = "dbo";
            def->name = sys->name;
            def->kind = 'S';
            return def;
        }
    }
    return nullptr;
}

TablePtr SessionImpl::ResolveTable(const ObjectName& n, const std::string& contextDb,
                                   DbHandle*& handle) {
    DbHandle& h = DbForUse(DatabaseOf(n, contextDb));
    handle = &h;
    TablePtr t = Lookup(h, n);
    if (!t) {
        throw EngineError(208, 16,
                          n.written + " not found. Specify owner.objectname or use sp_help to "
                                      "check whether the object exists (sp_help may produce lots "
                                      "of output).");
    }
    return t;
}

std::vector<TablePtr> SessionImpl::AllObjects(DbHandle& h) {
    std::vector<std::pair<std::string, std::string>> names;
    {
        Query q(*h.db, "SELECT owner, name FROM ase_objects ORDER BY id");
        while (q.Step()) {
            names.emplace_back(q.Text(0), q.Text(1));
        }
    }
    std::vector<TablePtr> out;
    for (const auto& [owner, name] : names) {
        if (TablePtr t = FindObject(h, owner, name)) {
            out.push_back(t);
        }
    }
    return out;
}

void SessionImpl::DoCreateTable(const Statement& st) {
    const ObjectName& n = st.target;
    DbHandle& h = DbForUse(DatabaseOf(n, current_));
    const std::string owner = CreateOwner(n);
    std::set<std::string> seen;
    for (const ColumnDefinition& def : st.definitions) {
        // ASE keeps bit columns NOT NULL and TDS 5.0 has no nullable bit type, so `bit null`
        // is refused rather than silently made NOT NULL.
        if (def.type.type == AseType::Bit && def.type.nullable) {
            throw EngineError(2731, 16,
                              "Column '" + def.name +
                                  "': bit columns cannot allow null values; declare it NOT NULL.");
        }
        if (!seen.insert(def.name).second) {
            throw EngineError(2705, 16,
                              "Column names in each table must be unique. Column name '" +
                                  def.name + "' in table '" + n.name +
                                  "' is specified more than once.");
        }
    }
    Scope scope(*this, h);
    if (FindObject(h, owner, n.name) || (owner == "dbo" && FindSystemTable(n.name))) {
        throw EngineError(2714, 16,
                          "There is already an object named '" + n.name + "' in the database.");
    }
    std::int64_t id = kFirstObjectId;
    {
        Query q(*h.db, "SELECT max(id) FROM ase_objects");
        if (q.Step() && !q.IsNull(0)) {
            id = std::max(kFirstObjectId, q.Int(0) + 1);
        }
    }
    {
        Query q(*h.db, "INSERT OR IGNORE INTO ase_users(uid, name) VALUES ((SELECT max(uid) + 1 "
                       "FROM ase_users), ?)");
        q.BindText(1, owner);
        q.Step();
    }
    {
        Query q(*h.db, "INSERT INTO ase_objects(id, owner, name, kind) VALUES (?, ?, ?, 'U')");
        q.BindInt(1, id);
        q.BindText(2, owner);
        q.BindText(3, n.name);
        q.Step();
    }
    std::string ddl = "CREATE TABLE t" + std::to_string(id) + "(";
    for (std::size_t i = 0; i < st.definitions.size(); ++i) {
        const ColumnDefinition& def = st.definitions[i];
        Query q(*h.db, "INSERT INTO ase_columns(object_id, ordinal, name, type, length, "
                       "precision, scale, nullable) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        q.BindInt(1, id);
        q.BindInt(2, static_cast<std::int64_t>(i + 1));
        q.BindText(3, def.name);
        q.BindText(4, TypeName(def.type.type));
        q.BindInt(5, def.type.length);
        q.BindInt(6, def.type.precision);
        q.BindInt(7, def.type.scale);
        q.BindInt(8, def.type.nullable ? 1 : 0);
        q.Step();
        ddl += (i ? ", c" : "c") + std::to_string(i);
    }
    ddl += ")";
    h.db->Exec(ddl);
    scope.Commit();
    BumpGeneration();
}

void SessionImpl::DoCreateView(const Statement& st) {
    const ObjectName& n = st.target;
    const std::string dbName = DatabaseOf(n, current_);
    DbHandle& h = DbForUse(dbName);
    const std::string owner = CreateOwner(n);
    if (FindObject(h, owner, n.name) || (owner == "dbo" && FindSystemTable(n.name))) {
        throw EngineError(2714, 16,
                          "There is already an object named '" + n.name + "' in the database.");
    }
    {
        NamesAs as(*this, owner);
        ExecuteSelect(*st.select, dbName); // names must resolve now, as the owner reads them
    }
    Scope scope(*this, h);
    std::int64_t id = kFirstObjectId;
    {
        Query q(*h.db, "SELECT max(id) FROM ase_objects");
        if (q.Step() && !q.IsNull(0)) {
            id = std::max(kFirstObjectId, q.Int(0) + 1);
        }
    }
    {
        Query q(*h.db, "INSERT OR IGNORE INTO ase_users(uid, name) VALUES ((SELECT max(uid) + 1 "
                       "FROM ase_users), ?)");
        q.BindText(1, owner);
        q.Step();
    }
    Query q(*h.db,
            "INSERT INTO ase_objects(id, owner, name, kind, view_text) VALUES (?, ?, ?, 'V', ?)");
    q.BindInt(1, id);
    q.BindText(2, owner);
    q.BindText(3, n.name);
    q.BindText(4, st.viewText);
    q.Step();
    scope.Commit();
    BumpGeneration();
}

void SessionImpl::DoDrop(const Statement& st) {
    const bool view = st.kind == StmtKind::DropView;
    std::optional<EngineError> firstError;
    for (const ObjectName& n : st.targets) {
        DbHandle& h = DbForUse(DatabaseOf(n, current_));
        TablePtr t = Lookup(h, n);
        if (!t || t->kind != (view ? 'V' : 'U')) {
            if (!firstError) {
                firstError = EngineError(3701, 11,
                                         std::string("Cannot drop the ") +
                                             (view ? "view" : "table") + " '" + n.written +
                                             "', because it doesn't exist in the system "
                                             "catalogs.");
            }
            continue;
        }
        Scope scope(*this, h);
        {
            Query q(*h.db, "DELETE FROM ase_columns WHERE object_id = ?");
            q.BindInt(1, t->id);
            q.Step();
        }
        {
            Query q(*h.db, "DELETE FROM ase_objects WHERE id = ?");
            q.BindInt(1, t->id);
            q.Step();
        }
        if (!view) {
            h.db->Exec("DROP TABLE IF EXISTS " + t->storage);
        }
        scope.Commit();
        BumpGeneration();
    }
    if (firstError) {
        throw *firstError;
    }
}

// Queries --------------------------------------------------------------------------------------

RowSet SessionImpl::SystemRows(DbHandle& h, const std::string& name) {
    RowSet set;
    auto col = [&](const char* n, AseType t, int length = 0, bool nullable = false) {
        ColumnType ct;
        ct.type = t;
        ct.length = length;
        ct.nullable = nullable;
        set.columns.push_back(ResultColumn{n, ct});
    };
    auto str = [](const std::string& s) {
        Value v;
        v.isNull = false;
        v.bytes = s;
        return v;
    };
    auto num = [](std::int64_t n) {
        Value v;
        v.isNull = false;
        v.integer = n;
        return v;
    };
    std::map<std::string, std::int64_t> uids;
    {
        Query q(*h.db, "SELECT uid, name FROM ase_users ORDER BY uid");
        while (q.Step()) {
            uids[q.Text(1)] = q.Int(0);
        }
    }
    if (name == "sysobjects") {
        col("name", AseType::VarChar, 255);
        col("id", AseType::Int);
        col("uid", AseType::Int);
        col("type", AseType::Char, 2);
        for (const SystemTable& s : kSystemTables) {
            set.rows.push_back({str(s.name), num(s.id), num(1), str("S ")});
        }
        for (const TablePtr& t : AllObjects(h)) {
            set.rows.push_back({str(t->name), num(t->id), num(uids[t->owner]),
                                str(std::string(1, t->kind) + " ")});
        }
    } else if (name == "syscolumns") {
        col("id", AseType::Int);
        col("colid", AseType::SmallInt);
        col("name", AseType::VarChar, 255);
        col("type", AseType::TinyInt);
        col("length", AseType::Int);
        col("prec", AseType::TinyInt, 0, true);
        col("scale", AseType::TinyInt, 0, true);
        for (const TablePtr& t : AllObjects(h)) {
            std::int64_t colid = 0;
            for (const ColumnDefinition& c : t->columns) {
                Value prec;
                Value scale;
                if (IsDecimalType(c.type.type)) {
                    prec = num(c.type.precision);
                    scale = num(c.type.scale);
                }
                Datum probe{c.type, Value{}};
                std::int64_t length = c.type.length;
                if (!IsStringType(c.type.type) && !IsBinaryType(c.type.type)) {
                    length = DataLength(probe);
                } else if (IsUniType(c.type.type)) {
                    length = c.type.length * 2;
                } else if (IsLargeType(c.type.type)) {
                    length = 16;
                }
                set.rows.push_back({num(t->id), num(++colid), str(c.name),
                                    num(SystemTypeCode(c.type)), num(length), prec, scale});
            }
        }
    } else if (name == "sysindexes") {
        col("id", AseType::Int);
        col("indid", AseType::SmallInt);
        col("name", AseType::VarChar, 255);
        for (const TablePtr& t : AllObjects(h)) {
            if (t->kind == 'U') {
                set.rows.push_back({num(t->id), num(0), str(t->name)});
            }
        }
    } else if (name == "systypes") {
        col("name", AseType::VarChar, 255);
        col("usertype", AseType::SmallInt);
        static const std::pair<const char*, int> types[] = {
            {"char", 1},     {"varchar", 2},     {"binary", 3},        {"varbinary", 4},
            {"tinyint", 5},  {"smallint", 6},    {"int", 7},           {"float", 8},
            {"numeric", 10}, {"money", 11},      {"datetime", 12},     {"bit", 16},
            {"text", 19},    {"image", 20},      {"smallmoney", 21},   {"smalldatetime", 22},
            {"real", 23},    {"nchar", 24},      {"nvarchar", 25},     {"decimal", 26},
            {"unichar", 34}, {"univarchar", 35}, {"unitext", 36},      {"date", 37},
            {"time", 38},    {"bigint", 43},     {"bigdatetime", 189}, {"bigtime", 190}};
        for (const auto& [n, u] : types) {
            set.rows.push_back({str(n), num(u)});
        }
    } else { // sysusers
        col("uid", AseType::Int);
        col("name", AseType::VarChar, 255);
        for (const auto& [n, uid] : uids) {
            set.rows.push_back({num(uid), str(n)});
        }
    }
    set.rowids.assign(set.rows.size(), 0);
    return set;
}

// Procedures ----------------------------------------------------------------------------------

void SessionImpl::DoProcedure(const std::string& name,
                              const std::vector<std::pair<std::string, Datum>>& args,
                              StatementOutcome& o) {
    if (name == "sp_tables") { // names are case-sensitive, as in ASE
        SpTables(args, o);
        o.isProcedure = true;
        o.returnStatus = 0;
        return;
    }
    throw EngineError(2812, 16,
                      "Stored procedure '" + name +
                          "' not found. Specify owner.objectname or use sp_help to check whether "
                          "the object exists (sp_help may produce lots of output).");
}

void SessionImpl::SpTables(const std::vector<std::pair<std::string, Datum>>& args,
                           StatementOutcome& o) {
    static const char* const names[] = {"table_name", "table_owner", "table_qualifier",
                                        "table_type"};
    std::optional<std::string> params[4];
    std::size_t position = 0;
    for (const auto& [argName, value] : args) {
        std::size_t slot = position++;
        if (!argName.empty()) {
            slot = 4;
            for (std::size_t i = 0; i < 4; ++i) {
                if (argName == names[i]) {
                    slot = i;
                }
            }
            if (slot == 4) {
                throw EngineError(8145, 16,
                                  "@" + argName + " is not a parameter for procedure sp_tables.");
            }
        }
        if (slot >= 4) {
            throw EngineError(8144, 16, "Procedure sp_tables has too many arguments specified.");
        }
        if (!value.value.isNull) {
            params[slot] = IsStringType(value.type.type) ? value.value.bytes : FormatDatum(value);
        }
    }
    std::set<std::string> types;
    if (params[3]) {
        std::string item;
        for (char c : *params[3] + ",") {
            if (c == ',') {
                if (!item.empty()) {
                    types.insert(item);
                }
                item.clear();
            } else if (c != '\'' && c != '"' && !(c == ' ' && item.empty())) {
                item += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
        }
        std::set<std::string> trimmed;
        for (std::string t : types) {
            while (!t.empty() && t.back() == ' ') {
                t.pop_back();
            }
            trimmed.insert(t);
        }
        types = std::move(trimmed);
    }
    struct Row {
        std::string type;
        std::string owner;
        std::string name;
    };
    std::vector<Row> rows;
    DbHandle& h = DbForUse(current_);
    for (const SystemTable& s : kSystemTables) {
        rows.push_back(Row{"SYSTEM TABLE", "dbo", s.name});
    }
    {
        // Names and kinds only: loading every object's columns would make a database of
        // thousands of tables slow to list.
        Query q(*h.db, "SELECT owner, name, kind FROM ase_objects ORDER BY id");
        while (q.Step()) {
            rows.push_back(Row{q.Text(2) == "V" ? "VIEW" : "TABLE", q.Text(0), q.Text(1)});
        }
    }
    auto matches = [](const std::optional<std::string>& pattern, const std::string& value) {
        return !pattern || LikeMatch(value, *pattern);
    };
    std::vector<Row> selected;
    if (matches(params[2], current_)) {
        for (Row& r : rows) {
            if (matches(params[0], r.name) && matches(params[1], r.owner) &&
                (types.empty() || types.count(r.type))) {
                selected.push_back(std::move(r));
            }
        }
    }
    std::sort(selected.begin(), selected.end(), [](const Row& a, const Row& b) {
        return std::tie(a.type, a.owner, a.name) < std::tie(b.type, b.owner, b.name);
    });
    auto column = [](const char* n, int length, bool nullable) {
        ColumnType t;
        t.type = AseType::VarChar;
        t.length = length;
        t.nullable = nullable;
        return ResultColumn{n, t};
    };
    o.hasResultSet = true;
    o.columns = {column("table_qualifier", 255, false), column("table_owner", 255, false),
                 column("table_name", 255, false), column("table_type", 32, false),
                 column("remarks", 254, true)};
    auto text = [](const std::string& s) {
        Value v;
        v.isNull = false;
        v.bytes = s;
        return v;
    };
    for (const Row& r : selected) {
        o.rows.push_back({text(current_), text(r.owner), text(r.name), text(r.type), Value{}});
    }
    o.rowCount = static_cast<std::int64_t>(o.rows.size());
}

std::optional<std::int64_t> SessionImpl::ObjectId(const std::string& text) {
    // The argument is a name, not SQL: its parts are split at the dots as they stand.
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string::npos ? dot : dot - start));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    for (std::string& p : parts) {
        while (!p.empty() && p.back() == ' ') {
            p.pop_back();
        }
    }
    if (parts.size() > 3 || parts.back().empty()) {
        return std::nullopt;
    }
    ObjectName n;
    n.name = parts.back();
    if (parts.size() >= 2) {
        n.owner = parts[parts.size() - 2];
    }
    if (parts.size() == 3) {
        n.database = parts[0];
    }
    const std::string db = DatabaseOf(n, current_);
    if (db != current_ && !DatabaseExists(db)) {
        return std::nullopt;
    }
    if (TablePtr t = Lookup(Db(db), n)) {
        return t->id;
    }
    return std::nullopt;
}

} // namespace asetest
