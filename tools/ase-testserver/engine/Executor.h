// Internals of the engine shared by its source files: catalog records, row sets, the engine
// and the session classes.
#pragma once

#include "Engine.h"
#include "Parser.h"
#include "Storage.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace asetest {

inline constexpr std::int64_t kDefaultTextSize = 32768;
inline constexpr std::int64_t kFirstObjectId = 1000000;

// Catalog tables of every database file; ase_databases is used in master only.
inline constexpr const char* kCatalogSchema =
    "CREATE TABLE IF NOT EXISTS ase_objects(id INTEGER PRIMARY KEY, owner TEXT NOT NULL, "
    "name TEXT NOT NULL, kind TEXT NOT NULL, view_text TEXT, UNIQUE(owner, name));"
    "CREATE TABLE IF NOT EXISTS ase_columns(object_id INTEGER NOT NULL, ordinal INTEGER NOT "
    "NULL, name TEXT NOT NULL, type TEXT NOT NULL, length INTEGER NOT NULL, precision "
    "INTEGER NOT NULL, scale INTEGER NOT NULL, nullable INTEGER NOT NULL, PRIMARY "
    "KEY(object_id, ordinal));"
    "CREATE TABLE IF NOT EXISTS ase_users(uid INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "INSERT OR IGNORE INTO ase_users(uid, name) VALUES (1, 'dbo');"
    "CREATE TABLE IF NOT EXISTS ase_databases(name TEXT PRIMARY KEY);";

// The system tables every database shows, owned by dbo.
struct SystemTable {
    const char* name;
    std::int64_t id;
};
inline constexpr SystemTable kSystemTables[] = {
    {"sysobjects", 1}, {"sysindexes", 2}, {"syscolumns", 3}, {"systypes", 4}, {"sysusers", 10}};
const SystemTable* FindSystemTable(const std::string& name);

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

// A session's connection to one database, with the catalog records it has read.
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

// LIKE with %, _ and [set] / [^set], case-sensitive as the binary sort order.
bool LikeMatch(std::string_view s, std::string_view p);
bool ContainsCount(const Expr& e);
// The message for the exception being handled: engine errors as they are, anything else as a
// server failure, so that a statement never takes the session down.
Message CurrentFailure();

class EngineImpl;

class SessionImpl final : public EngineSession {
public:
    SessionImpl(EngineImpl& engine, int spid, std::string login);

    std::vector<StatementOutcome> ExecuteBatch(std::string_view sql,
                                               const std::atomic<bool>& cancelled) override;
    std::vector<StatementOutcome> CallProcedure(std::string_view name,
                                                const std::vector<std::string>& parameters,
                                                const std::atomic<bool>& cancelled) override;
    std::vector<StatementOutcome> CallProcedureNamed(std::string_view name,
                                                     const std::vector<NamedParameter>& parameters,
                                                     const std::atomic<bool>& cancelled) override;
    std::string CurrentDatabase() const override { return current_; }
    std::int64_t TextSize() const override { return textSize_; }
    void SetTextSize(std::int64_t bytes) override {
        textSize_ = bytes <= 0 ? kDefaultTextSize : bytes;
    }

private:
    EngineImpl& engine_;
    int spid_;
    std::string login_;
    // The database user the login works as, in every database: "dbo" for the owner login,
    // else the login's own name.
    std::string user_;
    // Whose objects a bare name finds first: the session's user, or the owner of the view
    // whose body is running (a view reads names as its owner does).
    std::string bareNameUser_;
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
    bool sqlNull_ = false;           // set sqlnull: concatenation with NULL gives NULL

    bool Cancelled() const { return cancelled_ && cancelled_->load(std::memory_order_relaxed); }
    void StopIfCancelled() const;
    // Runs `work` for outcome `o`; a failure replaces `o` by the failed outcome with its
    // message. Keeps @@error.
    template <typename Work> void Guarded(StatementOutcome& o, Work&& work) {
        try {
            work();
            lastError_ = 0;
        } catch (...) {
            const Message failure = CurrentFailure();
            o = StatementOutcome{};
            o.failed = true;
            o.messages.push_back(failure);
            lastError_ = failure.number;
        }
    }

    // Databases and catalog
    bool DatabaseExists(const std::string& name);
    DbHandle& Db(const std::string& name);
    DbHandle& DbForUse(const std::string& name); // joins an open transaction
    TablePtr FindObject(DbHandle& h, const std::string& owner, const std::string& name);
    TablePtr LoadObject(DbHandle& h, const std::string& owner, const std::string& name);
    std::string DatabaseOf(const ObjectName& n, const std::string& contextDb) const {
        return n.database.empty() ? contextDb : n.database;
    }
    // The owner an object created under this name gets: the one written, else the user's.
    std::string CreateOwner(const ObjectName& n) const {
        return n.owner.empty() ? bareNameUser_ : n.owner;
    }
    // The object a name means: exactly the written owner's, or without an owner the user's
    // own, then the Database Owner's (system tables included). Null when there is none.
    TablePtr Lookup(DbHandle& h, const ObjectName& n);
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
    std::vector<StatementOutcome>
    RunProcedure(std::string_view name, const std::vector<std::pair<std::string, Datum>>& args,
                 const std::atomic<bool>& cancelled);
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
    class NamesAs;
};

class EngineImpl final : public Engine {
public:
    explicit EngineImpl(EngineOptions options)
        : options_(std::move(options)) {}

    std::unique_ptr<EngineSession> OpenSession(int spid, std::string login) override {
        return std::make_unique<SessionImpl>(*this, spid, std::move(login));
    }

    std::filesystem::path FileFor(const std::string& database) const;
    const std::string& ServerName() const { return options_.serverName; }
    const std::string& OwnerLogin() const { return options_.ownerLogin; }
    // Moves on every catalog change; sessions then drop the table records they cached.
    std::atomic<std::uint64_t> generation{1};
    std::mutex databaseMutex; // create/drop database

    // Creates the data directory and master; throws std::runtime_error.
    void Initialise();

private:
    EngineOptions options_;
};

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

// While it lives, bare names resolve as `user` would see them.
class SessionImpl::NamesAs {
public:
    NamesAs(SessionImpl& s, std::string user)
        : s_(s)
        , saved_(std::exchange(s.bareNameUser_, std::move(user))) {}
    ~NamesAs() { s_.bareNameUser_ = std::move(saved_); }
    NamesAs(const NamesAs&) = delete;
    NamesAs& operator=(const NamesAs&) = delete;

private:
    SessionImpl& s_;
    std::string saved_;
};

} // namespace asetest
