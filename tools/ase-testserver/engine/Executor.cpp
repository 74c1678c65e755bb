// Engines, sessions and batches: statements run one after another, each with its outcome.
#include "Executor.h"

#include <new>
#include <stdexcept>
#include <system_error>

namespace asetest {

const SystemTable* FindSystemTable(const std::string& name) {
    for (const SystemTable& t : kSystemTables) {
        if (name == t.name) {
            return &t;
        }
    }
    return nullptr;
}

namespace {

std::string HexName(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

} // namespace

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

std::filesystem::path EngineImpl::FileFor(const std::string& database) const {
    return options_.dataDirectory / ("db_" + HexName(database) + ".sqlite");
}

void EngineImpl::Initialise() {
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

std::unique_ptr<Engine> Engine::Open(const EngineOptions& options) {
    auto engine = std::make_unique<EngineImpl>(options);
    engine->Initialise();
    return engine;
}

SessionImpl::SessionImpl(EngineImpl& engine, int spid, std::string login)
    : engine_(engine)
    , spid_(spid)
    , login_(std::move(login))
    , user_(login_ == engine.OwnerLogin() ? "dbo" : login_)
    , bareNameUser_(user_) {}

std::uint64_t SessionImpl::Generation() const {
    return engine_.generation.load();
}
void SessionImpl::BumpGeneration() {
    engine_.generation.fetch_add(1);
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
    Guarded(o, [&] { RunOne(st, o, out); });
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
    std::vector<std::pair<std::string, Datum>> args;
    for (const std::string& p : parameters) {
        // A character value cannot be empty on the wire: an empty parameter was NULL.
        args.emplace_back(std::string(),
                          p.empty() ? NullDatum(ColumnType{AseType::VarChar}) : StringDatum(p));
    }
    return RunProcedure(name, args, cancelled);
}

std::vector<StatementOutcome>
SessionImpl::CallProcedureNamed(std::string_view name,
                                const std::vector<NamedParameter>& parameters,
                                const std::atomic<bool>& cancelled) {
    std::vector<std::pair<std::string, Datum>> args;
    for (const NamedParameter& p : parameters) {
        std::string argName = Lower(p.name);
        if (!argName.empty() && argName[0] == '@') {
            argName.erase(0, 1);
        }
        args.emplace_back(std::move(argName), p.isNull ? NullDatum(ColumnType{AseType::VarChar})
                                                       : StringDatum(p.value));
    }
    return RunProcedure(name, args, cancelled);
}

std::vector<StatementOutcome>
SessionImpl::RunProcedure(std::string_view name,
                          const std::vector<std::pair<std::string, Datum>>& args,
                          const std::atomic<bool>& cancelled) {
    cancelled_ = &cancelled;
    StatementOutcome o;
    ObjectName n;
    std::string procName(name);
    if (ParseObjectNameText(name, n)) {
        procName = n.name;
    }
    Guarded(o, [&] { DoProcedure(procName, args, o); });
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
    } else if (st.option == "sqlnull") {
        sqlNull_ = st.optionValue == "on";
    } else if (st.option == "quoted_identifier") {
        quotedIdentifier_ = st.optionValue == "on";
    }
}

// DDL ---------------------------------------------------------------------------------------

} // namespace asetest
