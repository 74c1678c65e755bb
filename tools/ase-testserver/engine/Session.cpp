// The engine proper: catalogs in SQLite files, sessions and the execution of statements.
#include "Engine.h"
#include "Parser.h"
#include "Storage.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <tuple>

namespace asetest {

namespace {

constexpr std::int64_t kDefaultTextSize = 32768;
constexpr std::int64_t kFirstObjectId = 1000000;

const char* const kCatalogSchema =
    "CREATE TABLE IF NOT EXISTS ase_objects(id INTEGER PRIMARY KEY, owner TEXT NOT NULL, "
    "name TEXT NOT NULL, kind TEXT NOT NULL, view_text TEXT, UNIQUE(owner, name));"
    "CREATE TABLE IF NOT EXISTS ase_columns(object_id INTEGER NOT NULL, ordinal INTEGER NOT "
    "NULL, name TEXT NOT NULL, type INTEGER NOT NULL, length INTEGER NOT NULL, precision "
    "INTEGER NOT NULL, scale INTEGER NOT NULL, nullable INTEGER NOT NULL, PRIMARY "
    "KEY(object_id, ordinal));"
    "CREATE TABLE IF NOT EXISTS ase_users(uid INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "INSERT OR IGNORE INTO ase_users(uid, name) VALUES (1, 'dbo');"
    "CREATE TABLE IF NOT EXISTS ase_databases(name TEXT PRIMARY KEY);";

struct SystemTable {
    const char* name;
    std::int64_t id;
};
const SystemTable kSystemTables[] = {
    {"sysobjects", 1}, {"sysindexes", 2}, {"syscolumns", 3}, {"systypes", 4}, {"sysusers", 10}};

const SystemTable* FindSystemTable(const std::string& name) {
    for (const SystemTable& t : kSystemTables) {
        if (name == t.name) {
            return &t;
        }
    }
    return nullptr;
}

std::string HexName(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

struct TableDef {
    std::int64_t id = 0;
    std::string owner;
    std::string name;
    char kind = 'U'; // U user table, V view, S system table
    std::string viewText;
    std::vector<ColumnDefinition> columns;
    std::string storage; // SQLite table holding the rows
};
using TablePtr = std::shared_ptr<const TableDef>;

struct DbHandle {
    std::string name;
    std::unique_ptr<SqliteDb> db;
    std::uint64_t generation = 0;
    std::map<std::pair<std::string, std::string>, TablePtr> tables;
    bool inTransaction = false;
};

// Rows of a table, a view or a computed set, with the names that qualify its columns.
struct RowSet {
    std::vector<ResultColumn> columns;
    std::vector<std::vector<Value>> rows;
    std::vector<std::int64_t> rowids;
    std::string tableName;
    std::string alias;
};

struct RowContext {
    const RowSet* set = nullptr;
    const std::vector<Value>* row = nullptr;
    const std::int64_t* count = nullptr; // count(*) of an aggregate select
    bool constantsOnly = false;          // insert values: column names are illegal
};

enum class Tri { False, True, Unknown };

Tri Not(Tri t) {
    return t == Tri::Unknown ? Tri::Unknown : (t == Tri::True ? Tri::False : Tri::True);
}

// LIKE with %, _ and [set] / [^set], case-sensitive as the binary sort order.
bool LikeMatch(std::string_view s, std::string_view p) {
    std::size_t si = 0;
    std::size_t pi = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starS = 0;
    auto matchOne = [&](std::size_t& pj, char c) -> bool {
        const char pc = p[pj];
        if (pc == '_') {
            ++pj;
            return true;
        }
        if (pc == '[') {
            const std::size_t close = p.find(']', pj + 1);
            if (close != std::string_view::npos) {
                std::string_view set = p.substr(pj + 1, close - pj - 1);
                bool negate = !set.empty() && set[0] == '^';
                if (negate) {
                    set.remove_prefix(1);
                }
                bool found = false;
                for (std::size_t k = 0; k < set.size(); ++k) {
                    if (k + 2 < set.size() && set[k + 1] == '-') {
                        if (c >= set[k] && c <= set[k + 2]) {
                            found = true;
                        }
                        k += 2;
                    } else if (set[k] == c) {
                        found = true;
                    }
                }
                pj = close + 1;
                return found != negate;
            }
        }
        ++pj;
        return pc == c;
    };
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == '%') {
            starP = pi++;
            starS = si;
            continue;
        }
        std::size_t pj = pi;
        if (pi < p.size() && matchOne(pj, s[si])) {
            pi = pj;
            ++si;
            continue;
        }
        if (starP != std::string_view::npos) {
            pi = starP + 1;
            si = ++starS;
            continue;
        }
        return false;
    }
    while (pi < p.size() && p[pi] == '%') {
        ++pi;
    }
    return pi == p.size();
}

bool ContainsCount(const Expr& e) {
    if (e.kind == ExprKind::CountStar) {
        return true;
    }
    for (const auto& a : e.args) {
        if (a && ContainsCount(*a)) {
            return true;
        }
    }
    return false;
}

int IntegerRank(AseType t) {
    switch (t) {
    case AseType::Bit:
    case AseType::TinyInt:
        return 1;
    case AseType::SmallInt:
        return 2;
    case AseType::USmallInt:
        return 3;
    case AseType::Int:
        return 4;
    case AseType::UInt:
        return 5;
    case AseType::BigInt:
        return 6;
    default:
        return 7;
    }
}

int IntegerDigits(AseType t) {
    switch (t) {
    case AseType::Bit:
        return 1;
    case AseType::TinyInt:
        return 3;
    case AseType::SmallInt:
    case AseType::USmallInt:
        return 5;
    case AseType::Int:
    case AseType::UInt:
        return 10;
    case AseType::BigInt:
        return 19;
    default:
        return 20;
    }
}

// The message for the exception being handled: engine errors as they are, anything else as a
// server failure, so that a statement never takes the session down.
Message CurrentFailure() {
    try {
        throw;
    } catch (const EngineError& e) {
        return e.message();
    } catch (const std::bad_alloc&) {
        return Message{701, 17, 1, "There is not enough memory to run this query."};
    } catch (const std::exception& e) {
        return Message{7301, 16, 1, std::string("The test server failed: ") + e.what()};
    } catch (...) {
        return Message{7301, 16, 1, "The test server failed."};
    }
}

[[noreturn]] void ArithmeticOverflow() {
    throw EngineError(3606, 16, "Arithmetic overflow occurred.");
}

[[noreturn]] void DivideByZero() {
    throw EngineError(3607, 16, "Divide by zero occurred.");
}

std::string VersionText() {
    return "Adaptive Server Enterprise/16.0 SP03 PL06/EBF 0000 SMP/P/x86_64/ase-testserver";
}

} // namespace

class EngineImpl;

class SessionImpl final : public EngineSession {
public:
    SessionImpl(EngineImpl& engine, int spid, std::string user);

    std::vector<StatementOutcome> ExecuteBatch(std::string_view sql,
                                               const std::atomic<bool>& cancelled) override;
    std::vector<StatementOutcome> CallProcedure(std::string_view name,
                                                const std::vector<std::string>& parameters,
                                                const std::atomic<bool>& cancelled) override;
    std::string CurrentDatabase() const override { return current_; }
    std::int64_t TextSize() const override { return textSize_; }
    void SetTextSize(std::int64_t bytes) override {
        textSize_ = bytes <= 0 ? kDefaultTextSize : bytes;
    }

private:
    EngineImpl& engine_;
    int spid_;
    std::string user_;
    std::string current_ = "master";
    std::map<std::string, std::unique_ptr<DbHandle>> dbs_;
    std::int64_t textSize_ = kDefaultTextSize;
    bool quotedIdentifier_ = false;
    std::int64_t lastRowCount_ = 0;
    int lastError_ = 0;
    int tranCount_ = 0;
    const std::atomic<bool>* cancelled_ = nullptr;
    int execDepth_ = 0;
    int viewDepth_ = 0;
    std::int64_t rowCountLimit_ = 0; // set rowcount: 0 = all rows

    bool Cancelled() const { return cancelled_ && cancelled_->load(std::memory_order_relaxed); }

    // Databases and catalog
    bool DatabaseExists(const std::string& name);
    DbHandle& Db(const std::string& name);
    DbHandle& DbForUse(const std::string& name); // joins an open transaction
    TablePtr FindObject(DbHandle& h, const std::string& owner, const std::string& name);
    TablePtr LoadObject(DbHandle& h, const std::string& owner, const std::string& name);
    std::string DatabaseOf(const ObjectName& n, const std::string& contextDb) const {
        return n.database.empty() ? contextDb : n.database;
    }
    static std::string OwnerOf(const ObjectName& n) { return n.owner.empty() ? "dbo" : n.owner; }
    TablePtr ResolveTable(const ObjectName& n, const std::string& contextDb, DbHandle*& handle);
    void BumpGeneration();
    std::uint64_t Generation() const;
    std::vector<TablePtr> AllObjects(DbHandle& h);

    // Statements
    void RunAll(const std::vector<StatementPtr>& statements, std::vector<StatementOutcome>& out);
    void Run(const Statement& st, std::vector<StatementOutcome>& out);
    void RunOne(const Statement& st, StatementOutcome& o, std::vector<StatementOutcome>& out);
    void RunText(std::string_view sql, std::vector<StatementOutcome>& out);

    void DoSelect(const Statement& st, StatementOutcome& o);
    void DoInsert(const Statement& st, StatementOutcome& o);
    void DoUpdate(const Statement& st, StatementOutcome& o);
    void DoDelete(const Statement& st, StatementOutcome& o);
    void DoTruncate(const Statement& st);
    void DoCreateTable(const Statement& st);
    void DoCreateView(const Statement& st);
    void DoDrop(const Statement& st);
    void DoCreateDatabase(const Statement& st);
    void DoDropDatabase(const Statement& st);
    void DoUse(const Statement& st, StatementOutcome& o);
    void DoBegin();
    void DoCommit();
    void DoRollback();
    void DoSet(const Statement& st);
    void DoProcedure(const std::string& name,
                     const std::vector<std::pair<std::string, Datum>>& args, StatementOutcome& o);
    void SpTables(const std::vector<std::pair<std::string, Datum>>& args, StatementOutcome& o);

    // Queries
    RowSet LoadSource(const ObjectName& n, const std::string& contextDb);
    RowSet SystemRows(DbHandle& h, const std::string& name);
    RowSet ExecuteSelect(const SelectStmt& s, const std::string& contextDb);
    std::vector<std::int64_t> MatchingRows(const RowSet& set, const Expr* where);

    // Expressions
    Datum Eval(const Expr& e, const RowContext& ctx);
    Tri EvalCondition(const Expr& e, const RowContext& ctx);
    Datum EvalColumn(const Expr& e, const RowContext& ctx);
    Datum EvalGlobal(const Expr& e);
    Datum EvalArithmetic(const std::string& op, const Datum& a, const Datum& b);
    Datum EvalFunction(const Expr& e, const RowContext& ctx);
    std::optional<std::int64_t> ObjectId(const std::string& text);

    // Transactions and atomic statements
    void JoinTransaction(DbHandle& h);
    class Scope;
};

class EngineImpl final : public Engine {
public:
    explicit EngineImpl(EngineOptions options)
        : options_(std::move(options)) {}

    std::unique_ptr<EngineSession> OpenSession(int spid, std::string user) override {
        return std::make_unique<SessionImpl>(*this, spid, std::move(user));
    }

    std::filesystem::path FileFor(const std::string& database) const {
        return options_.dataDirectory / ("db_" + HexName(database) + ".sqlite");
    }
    const std::string& ServerName() const { return options_.serverName; }
    std::atomic<std::uint64_t> generation{1};
    std::mutex databaseMutex; // create/drop database

    void Initialise() {
        std::error_code ec;
        std::filesystem::create_directories(options_.dataDirectory, ec);
        if (ec) {
            throw std::runtime_error("cannot create the data directory " +
                                     options_.dataDirectory.string() + ": " + ec.message());
        }
        try {
            SqliteDb master(FileFor("master"));
            master.Exec("BEGIN IMMEDIATE");
            master.Exec(kCatalogSchema);
            master.Exec("INSERT OR IGNORE INTO ase_databases(name) VALUES ('master')");
            master.Exec("COMMIT");
        } catch (const EngineError& e) {
            throw std::runtime_error("cannot open the master database: " + e.message().text);
        }
    }

private:
    EngineOptions options_;
};

std::unique_ptr<Engine> Engine::Open(const EngineOptions& options) {
    auto engine = std::make_unique<EngineImpl>(options);
    engine->Initialise();
    return engine;
}

// An atomic statement: a savepoint inside a user transaction, else its own write transaction.
class SessionImpl::Scope {
public:
    Scope(SessionImpl& s, DbHandle& h)
        : h_(h)
        , nested_(s.tranCount_ > 0) {
        h_.db->Exec(nested_ ? "SAVEPOINT stmt" : "BEGIN IMMEDIATE");
    }
    ~Scope() {
        if (!done_) {
            try {
                h_.db->Exec(nested_ ? "ROLLBACK TO stmt; RELEASE stmt" : "ROLLBACK");
            } catch (const EngineError&) {
            }
        }
    }
    void Commit() {
        h_.db->Exec(nested_ ? "RELEASE stmt" : "COMMIT");
        done_ = true;
    }

private:
    DbHandle& h_;
    bool nested_;
    bool done_ = false;
};

SessionImpl::SessionImpl(EngineImpl& engine, int spid, std::string user)
    : engine_(engine)
    , spid_(spid)
    , user_(std::move(user)) {}

std::uint64_t SessionImpl::Generation() const {
    return engine_.generation.load();
}
void SessionImpl::BumpGeneration() {
    engine_.generation.fetch_add(1);
}

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
        col.type.type = static_cast<AseType>(c.Int(1));
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

TablePtr SessionImpl::ResolveTable(const ObjectName& n, const std::string& contextDb,
                                   DbHandle*& handle) {
    DbHandle& h = DbForUse(DatabaseOf(n, contextDb));
    handle = &h;
    TablePtr t = FindObject(h, OwnerOf(n), n.name);
    if (!t) {
        if (OwnerOf(n) == "dbo") {
            if (const SystemTable* sys = FindSystemTable(n.name)) {
                auto def = std::make_shared<TableDef>();
                def->id = sys->id;
                def->owner = "dbo";
                def->name = sys->name;
                def->kind = 'S';
                return def;
            }
        }
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

// Batches ---------------------------------------------------------------------------------

std::vector<StatementOutcome> SessionImpl::ExecuteBatch(std::string_view sql,
                                                        const std::atomic<bool>& cancelled) {
    cancelled_ = &cancelled;
    std::vector<StatementOutcome> out;
    RunText(sql, out);
    if (out.empty()) {
        out.emplace_back();
    }
    cancelled_ = nullptr;
    return out;
}

void SessionImpl::RunText(std::string_view sql, std::vector<StatementOutcome>& out) {
    std::vector<StatementPtr> statements;
    try {
        statements = ParseBatch(sql, quotedIdentifier_);
    } catch (...) {
        const Message failure = CurrentFailure();
        StatementOutcome o;
        o.failed = true;
        o.messages.push_back(failure);
        lastError_ = failure.number;
        out.push_back(std::move(o));
        return;
    }
    RunAll(statements, out);
}

void SessionImpl::RunAll(const std::vector<StatementPtr>& statements,
                         std::vector<StatementOutcome>& out) {
    for (const StatementPtr& st : statements) {
        if (Cancelled()) {
            return;
        }
        Run(*st, out);
    }
}

void SessionImpl::Run(const Statement& st, std::vector<StatementOutcome>& out) {
    if (st.kind == StmtKind::Block) {
        RunAll(st.body, out);
        return;
    }
    if (st.kind == StmtKind::If) {
        Tri cond = Tri::False;
        try {
            cond = EvalCondition(*st.where, RowContext{});
        } catch (...) {
            const Message failure = CurrentFailure();
            StatementOutcome o;
            o.failed = true;
            o.messages.push_back(failure);
            lastError_ = failure.number;
            out.push_back(std::move(o));
            return;
        }
        if (cond == Tri::True) {
            Run(*st.body[0], out);
        } else if (st.body.size() > 1) {
            Run(*st.body[1], out);
        }
        return;
    }
    StatementOutcome o;
    try {
        RunOne(st, o, out);
        lastError_ = 0;
    } catch (...) {
        const Message failure = CurrentFailure();
        o = StatementOutcome{};
        o.failed = true;
        o.messages.push_back(failure);
        lastError_ = failure.number;
    }
    if (st.kind == StmtKind::ExecString && !o.failed) {
        return; // the executed text produced its own outcomes
    }
    lastRowCount_ = o.rowCount >= 0 ? o.rowCount : 0;
    out.push_back(std::move(o));
}

void SessionImpl::RunOne(const Statement& st, StatementOutcome& o,
                         std::vector<StatementOutcome>& out) {
    switch (st.kind) {
    case StmtKind::Select:
        DoSelect(st, o);
        break;
    case StmtKind::Insert:
        DoInsert(st, o);
        break;
    case StmtKind::Update:
        DoUpdate(st, o);
        break;
    case StmtKind::Delete:
        DoDelete(st, o);
        break;
    case StmtKind::Truncate:
        DoTruncate(st);
        break;
    case StmtKind::CreateTable:
        DoCreateTable(st);
        break;
    case StmtKind::CreateView:
        DoCreateView(st);
        break;
    case StmtKind::DropTable:
    case StmtKind::DropView:
        DoDrop(st);
        break;
    case StmtKind::CreateDatabase:
        DoCreateDatabase(st);
        break;
    case StmtKind::DropDatabase:
        DoDropDatabase(st);
        break;
    case StmtKind::Use:
        DoUse(st, o);
        break;
    case StmtKind::BeginTran:
        DoBegin();
        break;
    case StmtKind::CommitTran:
        DoCommit();
        break;
    case StmtKind::RollbackTran:
        DoRollback();
        break;
    case StmtKind::SetOption:
        DoSet(st);
        break;
    case StmtKind::Print: {
        const Datum d = Eval(*st.values[0], RowContext{});
        o.messages.push_back(Message{0, 10, 1, d.value.isNull ? "" : FormatDatum(d)});
        break;
    }
    case StmtKind::ExecString: {
        const Datum d = Eval(*st.values[0], RowContext{});
        if (!IsStringType(d.type.type)) {
            throw EngineError(257, 16,
                              "Implicit conversion from datatype '" + TypeName(d.type.type) +
                                  "' to 'VARCHAR' is not allowed.  Use the CONVERT function to "
                                  "run this query.");
        }
        if (execDepth_ > 16) {
            throw EngineError(217, 16,
                              "Maximum stored procedure nesting level exceeded (limit 16).");
        }
        ++execDepth_;
        try {
            RunText(d.value.isNull ? std::string_view() : std::string_view(d.value.bytes), out);
        } catch (...) {
            --execDepth_;
            throw;
        }
        --execDepth_;
        break;
    }
    case StmtKind::ExecProc: {
        std::vector<std::pair<std::string, Datum>> args;
        for (const ProcArgument& a : st.procArgs) {
            args.emplace_back(a.name, Eval(*a.value, RowContext{}));
        }
        DoProcedure(st.target.name, args, o);
        break;
    }
    case StmtKind::If:
    case StmtKind::Block:
    case StmtKind::Empty:
        break;
    }
}

std::vector<StatementOutcome> SessionImpl::CallProcedure(std::string_view name,
                                                         const std::vector<std::string>& parameters,
                                                         const std::atomic<bool>& cancelled) {
    cancelled_ = &cancelled;
    std::vector<std::pair<std::string, Datum>> args;
    for (const std::string& p : parameters) {
        // A character value cannot be empty on the wire: an empty parameter was NULL.
        args.emplace_back(std::string(),
                          p.empty() ? NullDatum(ColumnType{AseType::VarChar}) : StringDatum(p));
    }
    StatementOutcome o;
    ObjectName n;
    std::string procName(name);
    if (ParseObjectNameText(name, n)) {
        procName = n.name;
    }
    try {
        DoProcedure(procName, args, o);
        lastError_ = 0;
    } catch (...) {
        const Message failure = CurrentFailure();
        o = StatementOutcome{};
        o.failed = true;
        o.messages.push_back(failure);
        lastError_ = failure.number;
    }
    lastRowCount_ = o.rowCount >= 0 ? o.rowCount : 0;
    cancelled_ = nullptr;
    return {std::move(o)};
}

// Databases, options, transactions ------------------------------------------------------------

void SessionImpl::DoUse(const Statement& st, StatementOutcome& o) {
    const std::string& name = st.target.name;
    Db(name); // 911 when missing
    o.databaseChanged = true;
    o.oldDatabase = current_;
    o.newDatabase = name;
    current_ = name;
    o.messages.push_back(Message{5701, 10, 1, "Changed database context to '" + name + "'."});
}

void SessionImpl::DoCreateDatabase(const Statement& st) {
    if (tranCount_ > 0) {
        throw EngineError(226, 16,
                          "CREATE DATABASE command not allowed within multi-statement "
                          "transaction.");
    }
    const std::string& name = st.target.name;
    std::lock_guard<std::mutex> lock(engine_.databaseMutex);
    DbHandle& master = Db("master");
    {
        Scope scope(*this, master);
        {
            Query q(*master.db, "SELECT 1 FROM ase_databases WHERE name = ?");
            q.BindText(1, name);
            if (q.Step()) {
                throw EngineError(1801, 16,
                                  "Database '" + name +
                                      "' already exists. Choose a different database name.");
            }
        }
        std::error_code ec;
        const std::filesystem::path file = engine_.FileFor(name);
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::filesystem::remove(file.string() + suffix, ec);
        }
        {
            SqliteDb created(file);
            created.Exec("BEGIN IMMEDIATE");
            created.Exec(kCatalogSchema);
            created.Exec("COMMIT");
        }
        Query q(*master.db, "INSERT INTO ase_databases(name) VALUES (?)");
        q.BindText(1, name);
        q.Step();
        scope.Commit();
    }
}

void SessionImpl::DoDropDatabase(const Statement& st) {
    const std::string& name = st.target.name;
    if (name == "master" || name == current_) {
        throw EngineError(
            3702, 16, "Cannot drop the database '" + name + "' because it is currently in use.");
    }
    if (tranCount_ > 0) {
        throw EngineError(226, 16,
                          "DROP DATABASE command not allowed within multi-statement transaction.");
    }
    std::lock_guard<std::mutex> lock(engine_.databaseMutex);
    if (!DatabaseExists(name)) {
        throw EngineError(3701, 11,
                          "Cannot drop the database '" + name +
                              "', because it doesn't exist in the system catalogs.");
    }
    dbs_.erase(name);
    DbHandle& master = Db("master");
    Query q(*master.db, "DELETE FROM ase_databases WHERE name = ?");
    q.BindText(1, name);
    q.Step();
    std::error_code ec;
    const std::filesystem::path file = engine_.FileFor(name);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(file.string() + suffix, ec);
    }
    BumpGeneration();
}

void SessionImpl::DoBegin() {
    if (tranCount_ == 0) {
        ++tranCount_;
        try {
            JoinTransaction(Db(current_));
        } catch (...) {
            tranCount_ = 0;
            throw;
        }
        return;
    }
    ++tranCount_;
}

void SessionImpl::DoCommit() {
    if (tranCount_ == 0) {
        throw EngineError(3902, 16,
                          "The commit transaction request has no corresponding BEGIN "
                          "TRANSACTION.");
    }
    if (--tranCount_ > 0) {
        return;
    }
    for (auto& [name, h] : dbs_) {
        if (h->inTransaction) {
            h->inTransaction = false;
            h->db->Exec("COMMIT");
        }
    }
    BumpGeneration();
}

void SessionImpl::DoRollback() {
    if (tranCount_ == 0) {
        throw EngineError(3903, 16,
                          "The rollback transaction request has no corresponding BEGIN "
                          "TRANSACTION.");
    }
    tranCount_ = 0;
    for (auto& [name, h] : dbs_) {
        if (h->inTransaction) {
            h->inTransaction = false;
            h->db->Exec("ROLLBACK");
        }
    }
    BumpGeneration();
}

void SessionImpl::DoSet(const Statement& st) {
    if (st.option == "textsize") {
        const long long n = std::strtoll(st.optionValue.c_str(), nullptr, 10);
        SetTextSize(n);
    } else if (st.option == "rowcount") {
        rowCountLimit_ = std::max(0LL, std::strtoll(st.optionValue.c_str(), nullptr, 10));
    } else if (st.option == "quoted_identifier") {
        quotedIdentifier_ = st.optionValue == "on";
    }
}

// DDL ---------------------------------------------------------------------------------------

void SessionImpl::DoCreateTable(const Statement& st) {
    const ObjectName& n = st.target;
    DbHandle& h = DbForUse(DatabaseOf(n, current_));
    const std::string owner = OwnerOf(n);
    std::set<std::string> seen;
    for (const ColumnDefinition& def : st.definitions) {
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
        q.BindInt(4, static_cast<std::int64_t>(def.type.type));
        q.BindInt(5, def.type.length);
        q.BindInt(6, def.type.precision);
        q.BindInt(7, def.type.scale);
        q.BindInt(8, def.type.nullable ? 1 : 0);
        q.Step();
        if (def.type.type == AseType::Bit && def.type.nullable) {
            throw EngineError(2731, 16,
                              "Column '" + def.name +
                                  "': bit columns cannot allow null values; declare it NOT NULL.");
        }
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
    const std::string owner = OwnerOf(n);
    if (FindObject(h, owner, n.name) || (owner == "dbo" && FindSystemTable(n.name))) {
        throw EngineError(2714, 16,
                          "There is already an object named '" + n.name + "' in the database.");
    }
    ExecuteSelect(*st.select, dbName); // names must resolve now
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
        TablePtr t = FindObject(h, OwnerOf(n), n.name);
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

RowSet SessionImpl::LoadSource(const ObjectName& n, const std::string& contextDb) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(n, contextDb, h);
    RowSet set;
    set.tableName = n.name;
    if (t->kind == 'S') {
        set = SystemRows(*h, t->name);
        set.tableName = n.name;
        return set;
    }
    if (t->kind == 'V') {
        std::shared_ptr<SelectStmt> s;
        try {
            s = ParseSelectText(t->viewText);
        } catch (const EngineError& e) {
            throw EngineError(e.message().number, e.message().severity,
                              "View '" + t->name + "': " + e.message().text);
        }
        if (viewDepth_ >= 16) {
            throw EngineError(217, 16, "Maximum view nesting level exceeded (limit 16).");
        }
        ++viewDepth_;
        try {
            set = ExecuteSelect(*s, h->name);
        } catch (...) {
            --viewDepth_;
            throw;
        }
        --viewDepth_;
        set.tableName = n.name;
        return set;
    }
    for (const ColumnDefinition& c : t->columns) {
        set.columns.push_back(ResultColumn{c.name, c.type});
    }
    std::string sql = "SELECT rowid";
    for (std::size_t i = 0; i < t->columns.size(); ++i) {
        sql += ", c" + std::to_string(i);
    }
    sql += " FROM " + t->storage;
    Query q(*h->db, sql);
    while (q.Step()) {
        if (Cancelled()) {
            break;
        }
        std::vector<Value> row;
        row.reserve(t->columns.size());
        for (std::size_t i = 0; i < t->columns.size(); ++i) {
            row.push_back(q.ReadValue(static_cast<int>(i + 1), t->columns[i].type));
        }
        set.rowids.push_back(q.Int(0));
        set.rows.push_back(std::move(row));
    }
    return set;
}

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
                                    num(static_cast<std::int64_t>(c.type.type)), num(length), prec,
                                    scale});
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

std::vector<std::int64_t> SessionImpl::MatchingRows(const RowSet& set, const Expr* where) {
    std::vector<std::int64_t> out;
    if (where && !set.columns.empty()) {
        // Type errors show even when no row is read.
        const std::vector<Value> nullRow(set.columns.size());
        RowContext ctx;
        ctx.set = &set;
        ctx.row = &nullRow;
        EvalCondition(*where, ctx);
    }
    for (std::size_t i = 0; i < set.rows.size(); ++i) {
        if (Cancelled()) {
            break;
        }
        if (where) {
            RowContext ctx;
            ctx.set = &set;
            ctx.row = &set.rows[i];
            if (EvalCondition(*where, ctx) != Tri::True) {
                continue;
            }
        }
        out.push_back(static_cast<std::int64_t>(i));
    }
    return out;
}

RowSet SessionImpl::ExecuteSelect(const SelectStmt& s, const std::string& contextDb) {
    RowSet source;
    const bool hasFrom = s.from.has_value();
    if (hasFrom) {
        source = LoadSource(*s.from, contextDb);
        source.alias = s.fromAlias;
    } else {
        source.rows.emplace_back();
    }
    // The select list, with * expanded to column references.
    struct Item {
        const Expr* expr = nullptr;
        int sourceColumn = -1; // from *
        std::string name;
        bool aliased = false;
    };
    std::vector<Item> items;
    bool aggregate = false;
    for (const SelectItem& it : s.items) {
        if (it.star) {
            if (!hasFrom) {
                throw EngineError(263, 16, "Must specify table to select from.");
            }
            if (!it.starQualifier.empty() && it.starQualifier != source.tableName &&
                it.starQualifier != source.alias) {
                throw EngineError(107, 16,
                                  "The column prefix '" + it.starQualifier +
                                      "' does not match with a table name or alias name used in "
                                      "the query.");
            }
            for (std::size_t c = 0; c < source.columns.size(); ++c) {
                items.push_back(Item{nullptr, static_cast<int>(c), source.columns[c].name, false});
            }
            continue;
        }
        Item item;
        item.expr = it.expr.get();
        if (it.hasAlias) {
            item.name = it.alias;
            item.aliased = true;
        } else if (it.expr->kind == ExprKind::Column) {
            item.name = it.expr->parts.back();
        }
        aggregate = aggregate || ContainsCount(*it.expr);
        items.push_back(std::move(item));
    }
    if (s.where && ContainsCount(*s.where)) {
        throw EngineError(147, 15,
                          "An aggregate may not appear in the WHERE clause unless it is in a "
                          "subquery contained in a HAVING clause or a select list, and the column "
                          "being aggregated is an outer reference.");
    }

    std::vector<std::int64_t> matching = MatchingRows(source, s.where.get());
    std::int64_t count = static_cast<std::int64_t>(matching.size());

    // Result types: every item evaluated once over a row of NULLs.
    RowSet result;
    std::vector<Value> nullRow(source.columns.size());
    {
        RowContext ctx;
        ctx.set = &source;
        ctx.row = &nullRow;
        ctx.count = &count;
        for (const Item& item : items) {
            ColumnType type;
            if (item.expr) {
                type = Eval(*item.expr, ctx).type;
            } else {
                type = source.columns[static_cast<std::size_t>(item.sourceColumn)].type;
            }
            result.columns.push_back(ResultColumn{item.name, type});
        }
    }

    auto project = [&](const std::vector<Value>& row) {
        RowContext ctx;
        ctx.set = &source;
        ctx.row = &row;
        ctx.count = &count;
        std::vector<Value> out;
        out.reserve(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].expr) {
                Datum d = Eval(*items[i].expr, ctx);
                if (IsStringType(d.type.type) && !d.value.isNull && d.value.bytes.empty()) {
                    d.value.bytes = " ";
                }
                out.push_back(std::move(d.value));
            } else {
                out.push_back(row[static_cast<std::size_t>(items[i].sourceColumn)]);
            }
        }
        return out;
    };

    std::vector<std::size_t> sourceIndex; // source row of each result row
    if (aggregate) {
        const std::vector<Value>& row =
            matching.empty() ? nullRow : source.rows[static_cast<std::size_t>(matching[0])];
        result.rows.push_back(project(row));
        sourceIndex.push_back(matching.empty() ? std::string::npos
                                               : static_cast<std::size_t>(matching[0]));
    } else {
        for (std::int64_t i : matching) {
            if (Cancelled()) {
                break;
            }
            result.rows.push_back(project(source.rows[static_cast<std::size_t>(i)]));
            sourceIndex.push_back(static_cast<std::size_t>(i));
            result.rowids.push_back(hasFrom ? source.rowids[static_cast<std::size_t>(i)] : 0);
        }
    }

    auto sameRow = [&](const std::vector<Value>& a, const std::vector<Value>& b) {
        for (std::size_t c = 0; c < a.size(); ++c) {
            if (a[c].isNull != b[c].isNull) {
                return false;
            }
            if (!a[c].isNull && CompareData(Datum{result.columns[c].type, a[c]},
                                            Datum{result.columns[c].type, b[c]}) != 0) {
                return false;
            }
        }
        return true;
    };

    if (!s.orderBy.empty() && !result.rows.empty()) {
        // Sort keys per result row.
        std::vector<std::vector<Datum>> keys(result.rows.size());
        for (const OrderItem& o : s.orderBy) {
            const Expr& e = *o.expr;
            int outputColumn = -1;
            if (e.kind == ExprKind::Literal && e.literal.type.type == AseType::Int &&
                !e.literal.value.isNull) {
                outputColumn = static_cast<int>(e.literal.value.integer) - 1;
                if (outputColumn < 0 || outputColumn >= static_cast<int>(result.columns.size())) {
                    throw EngineError(108, 16,
                                      "The order by position number " +
                                          std::to_string(e.literal.value.integer) +
                                          " is out of range of the number of items in the select "
                                          "list.");
                }
            } else if (e.kind == ExprKind::Column && e.parts.size() == 1) {
                for (std::size_t c = 0; c < items.size(); ++c) {
                    if (items[c].aliased && items[c].name == e.parts[0]) {
                        outputColumn = static_cast<int>(c);
                        break;
                    }
                }
            }
            for (std::size_t r = 0; r < result.rows.size(); ++r) {
                Datum key;
                if (outputColumn >= 0) {
                    key = Datum{result.columns[static_cast<std::size_t>(outputColumn)].type,
                                result.rows[r][static_cast<std::size_t>(outputColumn)]};
                } else {
                    RowContext ctx;
                    ctx.set = &source;
                    ctx.row = sourceIndex[r] == std::string::npos ? &nullRow
                                                                  : &source.rows[sourceIndex[r]];
                    ctx.count = &count;
                    key = Eval(e, ctx);
                }
                if (IsLargeType(key.type.type)) {
                    throw EngineError(420, 16,
                                      "TEXT, IMAGE and UNITEXT datatypes cannot be used in an "
                                      "ORDER BY clause.");
                }
                keys[r].push_back(std::move(key));
            }
        }
        std::vector<std::size_t> order(result.rows.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            for (std::size_t k = 0; k < s.orderBy.size(); ++k) {
                const Datum& x = keys[a][k];
                const Datum& y = keys[b][k];
                int c = 0;
                if (x.value.isNull || y.value.isNull) {
                    c = x.value.isNull == y.value.isNull ? 0 : (x.value.isNull ? -1 : 1);
                } else {
                    c = CompareData(x, y);
                }
                if (c != 0) {
                    return s.orderBy[k].descending ? c > 0 : c < 0;
                }
            }
            return false;
        });
        std::vector<std::vector<Value>> sorted;
        sorted.reserve(order.size());
        for (std::size_t i : order) {
            sorted.push_back(std::move(result.rows[i]));
        }
        result.rows = std::move(sorted);
    }
    if (s.distinct) {
        std::vector<std::vector<Value>> unique;
        for (auto& row : result.rows) {
            bool seen = false;
            for (const auto& u : unique) {
                if (sameRow(u, row)) {
                    seen = true;
                    break;
                }
            }
            if (!seen) {
                unique.push_back(std::move(row));
            }
        }
        result.rows = std::move(unique);
    }
    if (s.top && static_cast<std::int64_t>(result.rows.size()) > *s.top) {
        result.rows.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, *s.top)));
    }
    return result;
}

void SessionImpl::DoSelect(const Statement& st, StatementOutcome& o) {
    RowSet r = ExecuteSelect(*st.select, current_);
    if (rowCountLimit_ > 0 && static_cast<std::int64_t>(r.rows.size()) > rowCountLimit_) {
        r.rows.resize(static_cast<std::size_t>(rowCountLimit_));
    }
    for (std::size_t c = 0; c < r.columns.size(); ++c) {
        const AseType t = r.columns[c].type.type;
        if (!IsLargeType(t)) {
            continue;
        }
        const std::size_t limit = static_cast<std::size_t>(textSize_);
        for (auto& row : r.rows) {
            std::string& b = row[c].bytes;
            if (b.size() <= limit && t != AseType::UniText) {
                continue;
            }
            if (t == AseType::Text) {
                b = CutUtf8Bytes(b, limit);
            } else if (t == AseType::UniText) {
                b = CutUtf16Units(b, limit / 2);
            } else {
                b.resize(limit);
            }
        }
    }
    o.hasResultSet = true;
    o.columns = std::move(r.columns);
    o.rows = std::move(r.rows);
    o.rowCount = static_cast<std::int64_t>(o.rows.size());
}

// DML ----------------------------------------------------------------------------------------

namespace {

[[noreturn]] void NullNotAllowed(const std::string& column, const std::string& db,
                                 const TableDef& t) {
    throw EngineError(515, 16,
                      "Attempt to insert NULL value into column '" + column + "', table '" + db +
                          "." + t.owner + "." + t.name +
                          "'; column does not allow nulls. Update fails.");
}

int ColumnIndex(const TableDef& t, const std::string& name) {
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        if (t.columns[i].name == name) {
            return static_cast<int>(i);
        }
    }
    throw EngineError(207, 16, "Invalid column name '" + name + "'.");
}

void RequireTable(const TableDef& t, const ObjectName& n) {
    if (t.kind != 'U') {
        throw EngineError(4403, 16,
                          "The object '" + n.written +
                              "' is not a user table; this server changes rows of tables only.");
    }
}

} // namespace

void SessionImpl::DoInsert(const Statement& st, StatementOutcome& o) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(st.target, current_, h);
    RequireTable(*t, st.target);
    std::vector<int> targets;
    if (st.columns.empty()) {
        for (std::size_t i = 0; i < t->columns.size(); ++i) {
            targets.push_back(static_cast<int>(i));
        }
    } else {
        for (const std::string& c : st.columns) {
            targets.push_back(ColumnIndex(*t, c));
        }
    }
    // Source rows, as data.
    std::vector<std::vector<Datum>> sourceRows;
    if (st.select) {
        RowSet r = ExecuteSelect(*st.select, current_);
        if (r.columns.size() != targets.size()) {
            throw EngineError(213, 16,
                              "Insert error: column name or number of supplied values does not "
                              "match table definition.");
        }
        for (auto& row : r.rows) {
            std::vector<Datum> data;
            for (std::size_t c = 0; c < row.size(); ++c) {
                data.push_back(Datum{r.columns[c].type, std::move(row[c])});
            }
            sourceRows.push_back(std::move(data));
        }
    } else {
        if (st.values.size() != targets.size()) {
            throw EngineError(213, 16,
                              "Insert error: column name or number of supplied values does not "
                              "match table definition.");
        }
        RowContext ctx;
        ctx.constantsOnly = true;
        std::vector<Datum> data;
        for (const ExprPtr& e : st.values) {
            data.push_back(Eval(*e, ctx));
        }
        sourceRows.push_back(std::move(data));
    }
    // Full rows in the columns' types; all checked before anything is written.
    std::vector<std::vector<Value>> rows;
    rows.reserve(sourceRows.size());
    for (const auto& src : sourceRows) {
        std::vector<Value> row(t->columns.size());
        std::vector<bool> given(t->columns.size(), false);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const auto c = static_cast<std::size_t>(targets[i]);
            const ColumnDefinition& col = t->columns[c];
            Datum v = AssignToColumn(src[i], col.type);
            if (v.value.isNull && !col.type.nullable) {
                NullNotAllowed(col.name, h->name, *t);
            }
            row[c] = std::move(v.value);
            given[c] = true;
        }
        for (std::size_t c = 0; c < t->columns.size(); ++c) {
            if (!given[c] && !t->columns[c].type.nullable) {
                throw EngineError(233, 16,
                                  "The column " + t->columns[c].name + " in table " + t->name +
                                      " does not allow null values.");
            }
        }
        rows.push_back(std::move(row));
    }
    std::string sql = "INSERT INTO " + t->storage + " VALUES (";
    for (std::size_t i = 0; i < t->columns.size(); ++i) {
        sql += i ? ", ?" : "?";
    }
    sql += ")";
    auto write = [&] {
        for (const auto& row : rows) {
            Query q(*h->db, sql);
            for (std::size_t c = 0; c < row.size(); ++c) {
                q.BindValue(static_cast<int>(c + 1), row[c], t->columns[c].type);
            }
            q.Step();
        }
    };
    if (rows.size() == 1) {
        write(); // a single statement is atomic by itself
    } else if (!rows.empty()) {
        Scope scope(*this, *h);
        write();
        scope.Commit();
    }
    o.rowCount = static_cast<std::int64_t>(rows.size());
}

void SessionImpl::DoUpdate(const Statement& st, StatementOutcome& o) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(st.target, current_, h);
    RequireTable(*t, st.target);
    std::vector<int> targets;
    for (const auto& [name, e] : st.assignments) {
        targets.push_back(ColumnIndex(*t, name));
    }
    Scope scope(*this, *h);
    RowSet set = LoadSource(st.target, current_);
    std::vector<std::int64_t> matching = MatchingRows(set, st.where.get());
    std::string sql = "UPDATE " + t->storage + " SET ";
    for (std::size_t i = 0; i < targets.size(); ++i) {
        sql += (i ? ", c" : "c") + std::to_string(targets[i]) + " = ?";
    }
    sql += " WHERE rowid = ?";
    std::vector<std::vector<Value>> newValues;
    for (std::int64_t r : matching) {
        RowContext ctx;
        ctx.set = &set;
        ctx.row = &set.rows[static_cast<std::size_t>(r)];
        std::vector<Value> values;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const ColumnDefinition& col = t->columns[static_cast<std::size_t>(targets[i])];
            Datum v = AssignToColumn(Eval(*st.assignments[i].second, ctx), col.type);
            if (v.value.isNull && !col.type.nullable) {
                NullNotAllowed(col.name, h->name, *t);
            }
            values.push_back(std::move(v.value));
        }
        newValues.push_back(std::move(values));
    }
    for (std::size_t k = 0; k < matching.size(); ++k) {
        Query q(*h->db, sql);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            q.BindValue(static_cast<int>(i + 1), newValues[k][i],
                        t->columns[static_cast<std::size_t>(targets[i])].type);
        }
        q.BindInt(static_cast<int>(targets.size() + 1),
                  set.rowids[static_cast<std::size_t>(matching[k])]);
        q.Step();
    }
    scope.Commit();
    o.rowCount = static_cast<std::int64_t>(matching.size());
}

void SessionImpl::DoDelete(const Statement& st, StatementOutcome& o) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(st.target, current_, h);
    RequireTable(*t, st.target);
    Scope scope(*this, *h);
    if (!st.where) {
        h->db->Exec("DELETE FROM " + t->storage);
        o.rowCount = h->db->Changes();
        scope.Commit();
        return;
    }
    RowSet set = LoadSource(st.target, current_);
    std::vector<std::int64_t> matching = MatchingRows(set, st.where.get());
    for (std::int64_t r : matching) {
        Query q(*h->db, "DELETE FROM " + t->storage + " WHERE rowid = ?");
        q.BindInt(1, set.rowids[static_cast<std::size_t>(r)]);
        q.Step();
    }
    scope.Commit();
    o.rowCount = static_cast<std::int64_t>(matching.size());
}

void SessionImpl::DoTruncate(const Statement& st) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(st.target, current_, h);
    RequireTable(*t, st.target);
    h->db->Exec("DELETE FROM " + t->storage);
}

// Procedures ----------------------------------------------------------------------------------

void SessionImpl::DoProcedure(const std::string& name,
                              const std::vector<std::pair<std::string, Datum>>& args,
                              StatementOutcome& o) {
    if (Lower(name) == "sp_tables") {
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
    for (const TablePtr& t : AllObjects(h)) {
        rows.push_back(Row{t->kind == 'V' ? "VIEW" : "TABLE", t->owner, t->name});
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

// Expressions ---------------------------------------------------------------------------------

Datum SessionImpl::EvalColumn(const Expr& e, const RowContext& ctx) {
    const std::string& name = e.parts.back();
    if (ctx.constantsOnly) {
        throw EngineError(128, 15,
                          "The name '" + name +
                              "' is illegal in this context. Only constants, constant "
                              "expressions, or variables allowed here. Column names are "
                              "illegal.");
    }
    if (!ctx.set || !ctx.row || ctx.set->columns.empty()) {
        throw EngineError(207, 16, "Invalid column name '" + name + "'.");
    }
    if (e.parts.size() >= 2) {
        const std::string& qualifier = e.parts[e.parts.size() - 2];
        if (qualifier != ctx.set->tableName && qualifier != ctx.set->alias) {
            throw EngineError(107, 16,
                              "The column prefix '" + qualifier +
                                  "' does not match with a table name or alias name used in the "
                                  "query.");
        }
    }
    for (std::size_t i = 0; i < ctx.set->columns.size(); ++i) {
        if (ctx.set->columns[i].name == name) {
            return Datum{ctx.set->columns[i].type, (*ctx.row)[i]};
        }
    }
    throw EngineError(207, 16, "Invalid column name '" + name + "'.");
}

Datum SessionImpl::EvalGlobal(const Expr& e) {
    const std::string& n = e.name;
    if (n == "spid") {
        return IntDatum(spid_);
    }
    if (n == "version") {
        return StringDatum(VersionText());
    }
    if (n == "textsize") {
        return IntDatum(textSize_);
    }
    if (n == "servername") {
        return StringDatum(engine_.ServerName());
    }
    if (n == "rowcount") {
        return IntDatum(lastRowCount_);
    }
    if (n == "error") {
        return IntDatum(lastError_);
    }
    if (n == "trancount") {
        return IntDatum(tranCount_);
    }
    if (n == "ncharsize") {
        return IntDatum(3);
    }
    if (n == "unicharsize") {
        return IntDatum(2);
    }
    if (n == "maxcharlen") {
        return IntDatum(4);
    }
    throw EngineError(137, 15, "Must declare variable '" + e.text + "'.");
}

Datum SessionImpl::EvalArithmetic(const std::string& op, const Datum& a, const Datum& b) {
    const AseType ta = a.type.type;
    const AseType tb = b.type.type;
    const bool nullable = a.type.nullable || b.type.nullable;
    const bool anyNull = a.value.isNull || b.value.isNull;
    Datum r;
    r.type.nullable = nullable;
    r.value.isNull = anyNull;

    if (IsStringType(ta) && IsStringType(tb) && op == "+") {
        const bool uni = IsUniType(ta) || IsUniType(tb);
        const bool large = IsLargeType(ta) || IsLargeType(tb);
        r.type.type = large ? (uni ? AseType::UniText : AseType::Text)
                            : (uni ? AseType::UniVarChar : AseType::VarChar);
        r.type.length = large ? 0 : std::min(16384, a.type.length + b.type.length);
        if (!anyNull) {
            r.value.bytes = a.value.bytes + b.value.bytes;
        }
        return r;
    }
    if (IsBinaryType(ta) && IsBinaryType(tb) && op == "+") {
        r.type.type = AseType::VarBinary;
        r.type.length = std::min(16384, a.type.length + b.type.length);
        if (!anyNull) {
            r.value.bytes = a.value.bytes + b.value.bytes;
        }
        return r;
    }
    if (!IsNumberType(ta) || !IsNumberType(tb)) {
        if (IsStringType(ta) && IsNumberType(tb)) {
            ConvertDatum(a, ColumnType{tb}, false);
        }
        if (IsNumberType(ta) && IsStringType(tb)) {
            ConvertDatum(b, ColumnType{ta}, false);
        }
        throw EngineError(403, 16,
                          "Invalid operator for datatype op: " + op +
                              " type: " + TypeName(IsNumberType(ta) ? tb : ta) + ".");
    }
    if (IsApproxType(ta) || IsApproxType(tb)) {
        r.type.type = (ta == AseType::Real && tb == AseType::Real) ? AseType::Real : AseType::Float;
        if (anyNull) {
            return r;
        }
        const double x = ConvertDatum(a, ColumnType{AseType::Float}, false).value.real;
        const double y = ConvertDatum(b, ColumnType{AseType::Float}, false).value.real;
        double v = 0;
        if (op == "+") {
            v = x + y;
        } else if (op == "-") {
            v = x - y;
        } else if (op == "*") {
            v = x * y;
        } else if (op == "/") {
            if (y == 0) {
                DivideByZero();
            }
            v = x / y;
        } else {
            throw EngineError(403, 16, "Invalid operator for datatype op: % type: FLOAT.");
        }
        r.value.real = r.type.type == AseType::Real ? static_cast<float>(v) : v;
        return r;
    }
    // Exact arithmetic over scaled 128-bit integers.
    auto exact = [](const Datum& d, int& scale, int& precision) -> Int128 {
        const AseType t = d.type.type;
        if (IsDecimalType(t)) {
            scale = d.type.scale;
            precision = d.type.precision;
            return d.value.unscaled;
        }
        if (IsMoneyType(t)) {
            scale = 4;
            precision = 19;
            return d.value.integer;
        }
        scale = 0;
        precision = IntegerDigits(t);
        return IsUnsignedType(t) ? static_cast<Int128>(d.value.unsignedInteger)
                                 : static_cast<Int128>(d.value.integer);
    };
    int s1 = 0;
    int p1 = 0;
    int s2 = 0;
    int p2 = 0;
    const Int128 x = anyNull ? 0 : exact(a, s1, p1);
    const Int128 y = anyNull ? 0 : exact(b, s2, p2);
    if (anyNull) {
        exact(a, s1, p1);
        exact(b, s2, p2);
    }
    const bool money = IsMoneyType(ta) || IsMoneyType(tb);
    const bool decimal = IsDecimalType(ta) || IsDecimalType(tb);
    int scale = 0;
    if (money) {
        r.type.type = (ta == AseType::SmallMoney && tb == AseType::SmallMoney) ? AseType::SmallMoney
                                                                               : AseType::Money;
        scale = 4;
    } else if (decimal) {
        r.type.type = AseType::Numeric;
        if (op == "+" || op == "-") {
            scale = std::max(s1, s2);
            r.type.precision = std::min(38, std::max(p1 - s1, p2 - s2) + scale + 1);
        } else if (op == "*") {
            scale = std::min(38, s1 + s2);
            r.type.precision = std::min(38, p1 + p2 + 1);
        } else {
            scale = std::min(38 - std::min(38, p1 - s1 + s2), std::max(6, s1 + p2 + 1));
            scale = std::max(0, scale);
            r.type.precision = 38;
        }
        r.type.scale = scale;
    } else {
        r.type.type = IntegerRank(ta) >= IntegerRank(tb) ? ta : tb;
        if (r.type.type == AseType::Bit) {
            r.type.type = AseType::TinyInt;
        }
    }
    if (anyNull) {
        return r;
    }
    auto rescale = [](Int128 v, int from, int to) {
        if (to >= from) {
            const Int128 f = Pow10(to - from);
            const Int128 limit = std::numeric_limits<Int128>::max() / f;
            if (v > limit || v < -limit) {
                ArithmeticOverflow();
            }
            return v * f;
        }
        const Int128 f = Pow10(from - to);
        Int128 q = v / f;
        const Int128 rem = v % f;
        if ((rem < 0 ? -rem : rem) * 2 >= f) {
            q += v < 0 ? -1 : 1;
        }
        return q;
    };
    auto checkedMul = [](Int128 u, Int128 v) {
        const Int128 au = u < 0 ? -u : u;
        const Int128 av = v < 0 ? -v : v;
        if (au != 0 && av > std::numeric_limits<Int128>::max() / au) {
            ArithmeticOverflow();
        }
        return u * v;
    };
    Int128 v = 0;
    if (op == "+" || op == "-") {
        const Int128 xs = rescale(x, s1, scale);
        const Int128 ys = rescale(y, s2, scale);
        v = op == "+" ? xs + ys : xs - ys;
    } else if (op == "*") {
        v = rescale(checkedMul(x, y), s1 + s2, scale);
    } else if (op == "/" || op == "%") {
        if (y == 0) {
            DivideByZero();
        }
        if (op == "%") {
            if (s1 != 0 || s2 != 0) {
                throw EngineError(
                    403, 16, "Invalid operator for datatype op: % type: " + TypeName(ta) + ".");
            }
            v = x % y;
        } else if (!money && !decimal) {
            v = x / y;
        } else {
            // x/10^s1 / (y/10^s2) = x*10^(scale+s2-s1) / y
            const int shift = scale + s2 - s1;
            Int128 num = shift >= 0 ? rescale(x, 0, shift) : x;
            Int128 den = shift >= 0 ? y : rescale(y, 0, -shift);
            Int128 q = num / den;
            const Int128 rem = num % den;
            if ((rem < 0 ? -rem : rem) * 2 >= (den < 0 ? -den : den)) {
                q += ((num < 0) != (den < 0)) ? -1 : 1;
            }
            v = q;
        }
    }
    if (decimal && !money) {
        if ((v < 0 ? -v : v) >= Pow10(r.type.precision)) {
            ArithmeticOverflow();
        }
        r.value.unscaled = v;
        return r;
    }
    Datum wide;
    wide.type = ColumnType{AseType::Numeric, 0, 38, scale, false};
    wide.value.isNull = false;
    wide.value.unscaled = v;
    try {
        Datum converted = ConvertDatum(wide, r.type, false);
        converted.type = r.type;
        return converted;
    } catch (const EngineError&) {
        ArithmeticOverflow();
    }
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
    DbHandle& h = Db(db);
    if (TablePtr t = FindObject(h, OwnerOf(n), n.name)) {
        return t->id;
    }
    if (OwnerOf(n) == "dbo") {
        if (const SystemTable* s = FindSystemTable(n.name)) {
            return s->id;
        }
    }
    return std::nullopt;
}

Datum SessionImpl::EvalFunction(const Expr& e, const RowContext& ctx) {
    const std::string& f = e.name;
    std::vector<Datum> a;
    a.reserve(e.args.size());
    for (const ExprPtr& arg : e.args) {
        a.push_back(Eval(*arg, ctx));
    }
    auto arity = [&](std::size_t lo, std::size_t hi) {
        if (a.size() < lo || a.size() > hi) {
            throw EngineError(14216, 16,
                              "Function '" + e.text + "' was called with " +
                                  std::to_string(a.size()) + " arguments, which is not valid.");
        }
    };
    auto needString = [&](const Datum& d) {
        if (!IsStringType(d.type.type) && !d.value.isNull) {
            throw EngineError(257, 16,
                              "Implicit conversion from datatype '" + TypeName(d.type.type) +
                                  "' to 'VARCHAR' is not allowed.  Use the CONVERT function to "
                                  "run this query.");
        }
    };
    auto intResult = [](const Datum& in, std::int64_t v) {
        Datum r = IntDatum(v, AseType::Int, in.type.nullable);
        r.value.isNull = in.value.isNull;
        return r;
    };
    if (f == "datalength") {
        arity(1, 1);
        return intResult(a[0], a[0].value.isNull ? 0 : DataLength(a[0]));
    }
    if (f == "len" || f == "char_length") {
        arity(1, 1);
        std::string_view s = a[0].value.bytes;
        if (f == "len") {
            while (!s.empty() && s.back() == ' ') {
                s.remove_suffix(1);
            }
        }
        const std::int64_t n = IsBinaryType(a[0].type.type)
                                   ? static_cast<std::int64_t>(s.size())
                                   : static_cast<std::int64_t>(Utf8CharCount(s));
        return intResult(a[0], n);
    }
    if (f == "upper" || f == "lower") {
        arity(1, 1);
        needString(a[0]);
        Datum r = a[0];
        for (char& c : r.value.bytes) {
            if (static_cast<unsigned char>(c) < 0x80) {
                c = static_cast<char>(f == "upper" ? std::toupper(static_cast<unsigned char>(c))
                                                   : std::tolower(static_cast<unsigned char>(c)));
            }
        }
        return r;
    }
    if (f == "replicate") {
        arity(2, 2);
        needString(a[0]);
        Datum r;
        r.type.type = IsUniType(a[0].type.type) ? AseType::UniVarChar : AseType::VarChar;
        r.type.length = 16384;
        r.type.nullable = true;
        if (a[0].value.isNull || a[1].value.isNull) {
            return r;
        }
        const Datum n = ConvertDatum(a[1], ColumnType{AseType::BigInt}, true);
        if (n.value.integer < 0) {
            return r;
        }
        r.value.isNull = false;
        std::string out;
        for (std::int64_t i = 0; i < n.value.integer && out.size() < 16384; ++i) {
            out += a[0].value.bytes;
        }
        r.value.bytes = CutUtf8Bytes(out, 16384);
        return r;
    }
    if (f == "object_id") {
        arity(1, 1);
        needString(a[0]);
        Datum r = NullDatum(ColumnType{AseType::Int});
        if (!a[0].value.isNull) {
            if (auto id = ObjectId(a[0].value.bytes)) {
                r.value.isNull = false;
                r.value.integer = *id;
            }
        }
        return r;
    }
    if (f == "isnull" || f == "coalesce") {
        if (a.empty()) {
            arity(2, 2);
        }
        Datum r = a[0];
        r.type.nullable = true;
        for (const Datum& d : a) {
            if (!d.value.isNull) {
                Datum c = ConvertDatum(d, a[0].type, true);
                c.type = a[0].type;
                c.type.nullable = a.back().type.nullable;
                return c;
            }
        }
        return r;
    }
    if (f == "ltrim" || f == "rtrim") {
        arity(1, 1);
        needString(a[0]);
        Datum r = a[0];
        r.type.nullable = true;
        std::string& s = r.value.bytes;
        if (f == "rtrim") {
            s.erase(s.find_last_not_of(' ') + 1);
        } else {
            s.erase(0, std::min(s.size(), s.find_first_not_of(' ')));
        }
        if (!r.value.isNull && s.empty()) {
            r.value = Value{};
        }
        return r;
    }
    if (f == "substring") {
        arity(3, 3);
        Datum r;
        r.type.type = IsBinaryType(a[0].type.type) ? AseType::VarBinary : AseType::VarChar;
        r.type.length = std::max(1, a[0].type.length);
        r.type.nullable = true;
        if (a[0].value.isNull || a[1].value.isNull || a[2].value.isNull) {
            return r;
        }
        const std::int64_t start =
            ConvertDatum(a[1], ColumnType{AseType::BigInt}, true).value.integer;
        const std::int64_t count =
            ConvertDatum(a[2], ColumnType{AseType::BigInt}, true).value.integer;
        const std::string& s = a[0].value.bytes;
        const std::int64_t from = std::max<std::int64_t>(start, 1) - 1;
        const std::int64_t to = start + count - 1;
        if (count < 0 || to <= from || from >= static_cast<std::int64_t>(s.size())) {
            return r;
        }
        r.value.isNull = false;
        r.value.bytes =
            s.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
        return r;
    }
    if (f == "getdate") {
        arity(0, 0);
        const auto now = std::chrono::system_clock::now();
        const std::int64_t micros =
            std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
        Datum d;
        d.type.type = AseType::BigDateTime;
        d.value.isNull = false;
        d.value.days = 25567 + micros / 86400000000LL;
        d.value.fraction = micros % 86400000000LL;
        return ConvertDatum(d, ColumnType{AseType::DateTime}, true);
    }
    if (f == "db_name") {
        arity(0, 0);
        return StringDatum(current_);
    }
    if (f == "user_name") {
        arity(0, 1);
        return StringDatum("dbo");
    }
    if (f == "suser_name") {
        arity(0, 1);
        return StringDatum(user_);
    }
    throw EngineError(14216, 16,
                      "Function '" + e.text +
                          "' not found. If this is a SQLJ function or SQL function, use sp_help "
                          "to check whether the object exists (sp_help may produce lots of "
                          "output).");
}

Datum SessionImpl::Eval(const Expr& e, const RowContext& ctx) {
    switch (e.kind) {
    case ExprKind::Literal:
        return e.literal;
    case ExprKind::Column:
        return EvalColumn(e, ctx);
    case ExprKind::Global:
        return EvalGlobal(e);
    case ExprKind::Negate: {
        Datum a = Eval(*e.args[0], ctx);
        if (!IsNumberType(a.type.type)) {
            throw EngineError(403, 16,
                              "Invalid operator for datatype op: UNARY MINUS type: " +
                                  TypeName(a.type.type) + ".");
        }
        Datum zero = IntDatum(0);
        if (IsApproxType(a.type.type)) {
            Datum r = a;
            r.value.real = -a.value.real;
            return r;
        }
        Datum r = EvalArithmetic("-", zero, a);
        if (!IsDecimalType(a.type.type)) {
            Datum c = r.value.isNull ? r : ConvertDatum(r, a.type, false);
            c.type = a.type;
            return c;
        }
        r.type = a.type;
        return r;
    }
    case ExprKind::Binary:
        return EvalArithmetic(e.name, Eval(*e.args[0], ctx), Eval(*e.args[1], ctx));
    case ExprKind::Function:
        return EvalFunction(e, ctx);
    case ExprKind::Convert: {
        const Datum in = Eval(*e.args[0], ctx);
        int style = 0;
        if (e.args.size() > 1) {
            const Datum s = Eval(*e.args[1], ctx);
            if (!s.value.isNull) {
                style =
                    static_cast<int>(ConvertDatum(s, ColumnType{AseType::Int}, true).value.integer);
            }
        }
        Datum out = ConvertDatum(in, e.targetType, true, style);
        if (IsStringType(out.type.type) && !out.value.isNull && out.value.bytes.empty()) {
            out.value.bytes = " ";
        }
        return out;
    }
    case ExprKind::CountStar:
        if (!ctx.count) {
            throw EngineError(147, 15, "An aggregate may not appear in this context.");
        }
        return IntDatum(*ctx.count);
    default:
        break;
    }
    // A condition used as a value.
    throw EngineError(102, 15, "Incorrect syntax near '" + e.name + "'.");
}

Tri SessionImpl::EvalCondition(const Expr& e, const RowContext& ctx) {
    auto lobCheck = [](const Datum& d) {
        if (IsLargeType(d.type.type)) {
            throw EngineError(306, 16,
                              "TEXT, IMAGE and UNITEXT datatypes may not be used in the WHERE or "
                              "HAVING clause, except with the LIKE expression and the IS NULL "
                              "predicate.");
        }
    };
    auto isNullLiteral = [](const Expr& x) {
        return x.kind == ExprKind::Literal && x.literal.value.isNull;
    };
    auto compare = [&](const std::string& op, const Datum& a, const Datum& b) {
        lobCheck(a);
        lobCheck(b);
        CheckComparable(a.type.type, b.type.type);
        if (a.value.isNull || b.value.isNull) {
            return Tri::Unknown;
        }
        const int c = CompareData(a, b);
        bool r = false;
        if (op == "=") {
            r = c == 0;
        } else if (op == "<>" || op == "!=") {
            r = c != 0;
        } else if (op == "<") {
            r = c < 0;
        } else if (op == ">") {
            r = c > 0;
        } else if (op == "<=" || op == "!>") {
            r = c <= 0;
        } else if (op == ">=" || op == "!<") {
            r = c >= 0;
        }
        return r ? Tri::True : Tri::False;
    };
    switch (e.kind) {
    case ExprKind::And: {
        const Tri a = EvalCondition(*e.args[0], ctx);
        if (a == Tri::False) {
            return Tri::False;
        }
        const Tri b = EvalCondition(*e.args[1], ctx);
        if (b == Tri::False) {
            return Tri::False;
        }
        return (a == Tri::True && b == Tri::True) ? Tri::True : Tri::Unknown;
    }
    case ExprKind::Or: {
        const Tri a = EvalCondition(*e.args[0], ctx);
        if (a == Tri::True) {
            return Tri::True;
        }
        const Tri b = EvalCondition(*e.args[1], ctx);
        if (b == Tri::True) {
            return Tri::True;
        }
        return (a == Tri::False && b == Tri::False) ? Tri::False : Tri::Unknown;
    }
    case ExprKind::Not:
        return Not(EvalCondition(*e.args[0], ctx));
    case ExprKind::Exists: {
        RowSet r = ExecuteSelect(*e.subquery, current_);
        return r.rows.empty() ? Tri::False : Tri::True;
    }
    case ExprKind::IsNull: {
        const Datum a = Eval(*e.args[0], ctx);
        return (a.value.isNull != e.negated) ? Tri::True : Tri::False;
    }
    case ExprKind::Compare: {
        const Datum a = Eval(*e.args[0], ctx);
        const Datum b = Eval(*e.args[1], ctx);
        // Transact-SQL: a comparison with a NULL literal tests for NULL (ansinull off).
        if ((isNullLiteral(*e.args[0]) || isNullLiteral(*e.args[1])) &&
            (e.name == "=" || e.name == "<>" || e.name == "!=")) {
            const Datum& other = isNullLiteral(*e.args[0]) ? b : a;
            const bool isNull = other.value.isNull;
            return (e.name == "=" ? isNull : !isNull) ? Tri::True : Tri::False;
        }
        return compare(e.name, a, b);
    }
    case ExprKind::Like: {
        const Datum a = Eval(*e.args[0], ctx);
        const Datum p = Eval(*e.args[1], ctx);
        if (a.value.isNull || p.value.isNull) {
            return Tri::Unknown;
        }
        if (!IsStringType(a.type.type) || !IsStringType(p.type.type)) {
            const AseType bad = IsStringType(a.type.type) ? p.type.type : a.type.type;
            throw EngineError(257, 16,
                              "Implicit conversion from datatype '" + TypeName(bad) +
                                  "' to 'VARCHAR' is not allowed.  Use the CONVERT function to "
                                  "run this query.");
        }
        const bool m = LikeMatch(a.value.bytes, p.value.bytes);
        return (m != e.negated) ? Tri::True : Tri::False;
    }
    case ExprKind::Between: {
        const Datum a = Eval(*e.args[0], ctx);
        const Tri lo = compare(">=", a, Eval(*e.args[1], ctx));
        const Tri hi = compare("<=", a, Eval(*e.args[2], ctx));
        Tri r = Tri::Unknown;
        if (lo == Tri::False || hi == Tri::False) {
            r = Tri::False;
        } else if (lo == Tri::True && hi == Tri::True) {
            r = Tri::True;
        }
        return e.negated ? Not(r) : r;
    }
    case ExprKind::InList: {
        const Datum a = Eval(*e.args[0], ctx);
        Tri r = Tri::False;
        for (std::size_t i = 1; i < e.args.size(); ++i) {
            const Tri t = compare("=", a, Eval(*e.args[i], ctx));
            if (t == Tri::True) {
                r = Tri::True;
                break;
            }
            if (t == Tri::Unknown) {
                r = Tri::Unknown;
            }
        }
        return e.negated ? Not(r) : r;
    }
    default:
        throw EngineError(4145, 15,
                          "An expression of non-boolean type specified in a context where a "
                          "condition is expected.");
    }
}

} // namespace asetest
