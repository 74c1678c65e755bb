// Sybase ASE backend on FreeTDS's DB-Library, speaking TDS 5.0.

#include "connect/Backends.h"
#include "connect/DatabaseError.h"
#include "connect/freetds/TdsValues.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sybdb.h>
#include <vector>

namespace veltrane {

namespace {

// What the library's handlers report for one connection. Each DBPROCESS carries a pointer
// to its own Messages, so two connections never see each other's errors.
struct Messages {
    std::optional<std::pair<int, std::string>> serverError; // first error of the statement
    std::optional<std::pair<int, std::string>> clientError; // DB-Library's own
    void Clear() {
        serverError.reset();
        clientError.reset();
    }
};

// During dbopen the DBPROCESS does not exist yet for the caller, so login messages are routed
// to the Messages of the open in progress on this thread.
thread_local Messages* openingMessages = nullptr;

Messages* MessagesOf(DBPROCESS* proc) {
    if (proc != nullptr) {
        if (auto* m = reinterpret_cast<Messages*>(dbgetuserdata(proc)))
            return m;
    }
    return openingMessages;
}

int MessageHandler(DBPROCESS* proc, DBINT number, int, int severity, char* text, char*, char*,
                   int) {
    // Severity 10 and below are informational (5701 database changed, 5703 language, 5704
    // character set): never errors.
    if (severity <= 10)
        return 0;
    if (Messages* m = MessagesOf(proc); m && !m->serverError)
        m->serverError.emplace(static_cast<int>(number), text ? text : "");
    return 0;
}

int ErrorHandler(DBPROCESS* proc, int, int dbErr, int osErr, char* dbErrText, char* osErrText) {
    // A command timeout: the first time, cancel the statement and keep the connection (the
    // server acknowledges the cancel); should the server not even answer that in time, give
    // the connection up.
    if (dbErr == SYBETIME) {
        Messages* m = MessagesOf(proc);
        if (m != nullptr && !m->clientError) {
            m->clientError.emplace(dbErr, "The statement did not finish within the command "
                                          "timeout and was cancelled.");
            return INT_TIMEOUT;
        }
        return INT_CANCEL;
    }
    // 20018 only says that the server sent an error, which MessageHandler already holds.
    if (dbErr != SYBESMSG) {
        if (Messages* m = MessagesOf(proc); m && !m->clientError) {
            std::string text = dbErrText ? dbErrText : "DB-Library error";
            if (osErr != 0 && osErr != DBNOERR && osErrText && *osErrText)
                text += std::string(" (") + osErrText + ")";
            m->clientError.emplace(dbErr, std::move(text));
        }
    }
    // Never let the library exit the process; a failed call reports FAIL instead.
    return INT_CANCEL;
}

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (dbinit() == FAIL)
            throw DatabaseError("FreeTDS DB-Library could not be initialised.");
        dbmsghandle(MessageHandler);
        dberrhandle(ErrorHandler);
        dbsetversion(DBVERSION_100);
    });
}

// DB-Library's command timeout is one setting for the whole process, and setting it walks
// every connection slot of the library (thousands), which costs more than a short statement's
// own client work; it is set only when a connection needs another value than the last one.
// -1: not known, e.g. after a login, which may leave its own timeout on the new connection.
std::atomic<int> processCommandTimeout{-1};

void SetCommandTimeout(int seconds) {
    if (processCommandTimeout.exchange(seconds) != seconds)
        dbsettime(seconds);
}

std::string QuoteName(const std::string& name) {
    std::string quoted = "[";
    for (char c : name) {
        quoted += c;
        if (c == ']')
            quoted += ']';
    }
    return quoted + "]";
}

class FreeTdsSession;

// A result set that holds all its rows (client cursor) or reads them from the server as the
// caller moves on (server cursor).
class FreeTdsResultSet final : public ResultSet {
public:
    FreeTdsResultSet(FreeTdsSession* session, std::vector<FieldInfo> fields,
                     std::vector<tds::ColumnType> types, bool buffered);
    ~FreeTdsResultSet() override;

    int FieldCount() const override { return static_cast<int>(fields_.size()); }
    const FieldInfo& Field(int index) const override {
        CheckIndex(index);
        return fields_[static_cast<std::size_t>(index)];
    }
    const DbValue& Value(int index) const override {
        CheckIndex(index);
        if (IsEOF())
            throw DatabaseError("No current row: the end of the rows has been reached.");
        return rows_[current_][static_cast<std::size_t>(index)];
    }
    std::int64_t RecordCount() const override {
        return buffered_ ? static_cast<std::int64_t>(rows_.size()) : -1;
    }
    bool IsEOF() const override { return current_ >= rows_.size(); }
    void MoveNext() override;
    void Close() override;

    // Reads one row from the server into the buffer; false at the end of the rows.
    bool FetchRow();
    // Called when another statement takes the connection away from a streaming result.
    void RenameField(int index, std::string name) {
        CheckIndex(index);
        fields_[static_cast<std::size_t>(index)].name = std::move(name);
    }
    void Detach() {
        session_ = nullptr;
        interrupted_ = true;
    }

private:
    void CheckIndex(int index) const {
        if (index < 0 || index >= FieldCount())
            throw DatabaseError("Field index " + std::to_string(index) + " is out of range.");
    }

    FreeTdsSession* session_;
    std::vector<FieldInfo> fields_;
    std::vector<tds::ColumnType> types_;
    bool buffered_;
    bool interrupted_ = false;
    std::vector<std::vector<DbValue>> rows_;
    std::size_t current_ = 0;
};

class FreeTdsSession final : public ConnectionBackend {
public:
    FreeTdsSession(const ConnectionTarget& target, const ConnectionOptions& options)
        : options_(options) {
        InitLibrary();
        LOGINREC* login = dblogin();
        if (login == nullptr)
            throw DatabaseError("FreeTDS could not allocate a login record.");
        DBSETLUSER(login, target.user.c_str());
        DBSETLPWD(login, target.password.c_str());
        DBSETLAPP(login, "Veltrane");
        DBSETLCHARSET(login, "UTF-8");
        // TDS 5.0 regardless of TDSVER or freetds.conf.
        DBSETLVERSION(login, DBVERSION_100);
        // ADO's default connection timeout is 15 seconds.
        dbsetlogintime(options.connectionTimeoutSeconds.value_or(15));

        const std::string server = target.host + ":" + std::to_string(target.port);
        openingMessages = &messages_;
        proc_ = dbopen(login, server.c_str());
        openingMessages = nullptr;
        processCommandTimeout = -1;
        dbloginfree(login);
        if (proc_ == nullptr) {
            std::string text = "Cannot connect to Sybase ASE at " + server + ": ";
            if (messages_.serverError)
                throw DatabaseError(text + messages_.serverError->second,
                                    messages_.serverError->first);
            if (messages_.clientError)
                throw DatabaseError(text + messages_.clientError->second,
                                    messages_.clientError->first);
            throw DatabaseError(text + "the login failed.");
        }
        dbsetuserdata(proc_, reinterpret_cast<BYTE*>(&messages_));
        try {
            if (!target.database.empty())
                Run("use " + QuoteName(target.database));
            // Without this a server cuts every text value at 32 KB.
            Run("set textsize 2147483647");
        } catch (...) {
            dbclose(proc_);
            proc_ = nullptr;
            throw;
        }
    }

    ~FreeTdsSession() override { Close(); }

    std::unique_ptr<ResultSet> Execute(const std::string& statement) override {
        return Run(statement);
    }

    std::unique_ptr<ResultSet> OpenTablesSchema() override {
        auto result = Run("sp_tables", true);
        if (!result)
            throw DatabaseError("sp_tables returned no rows.", 0, "sp_tables");
        // The names the rest of the program reads, as an OLE DB tables rowset has them.
        for (const char* name : {"TABLE_NAME", "TABLE_TYPE", "TABLE_OWNER"})
            result->RenameField(result->FieldIndex(name), name);
        return result;
    }

    void Close() override {
        if (proc_ == nullptr)
            return;
        ReleaseStream();
        dbsetuserdata(proc_, nullptr);
        dbclose(proc_);
        proc_ = nullptr;
    }

    // Forwards to the next row of the current streaming result; false at its end, after
    // which the rest of the batch has been processed (and its errors thrown).
    bool NextRow(std::vector<DbValue>& row, const std::vector<tds::ColumnType>& types) {
        const STATUS status = dbnextrow(proc_);
        if (status == REG_ROW) {
            ReadRow(row, types);
            return true;
        }
        if (status == NO_MORE_ROWS) {
            stream_ = nullptr;
            FinishBatch();
            return false;
        }
        if (status == FAIL) {
            stream_ = nullptr;
            dbcancel(proc_);
            ThrowStatementError();
        }
        // Compute rows are not produced by the statements this program runs; skip them.
        return NextRow(row, types);
    }

    void StreamClosed(FreeTdsResultSet* result) {
        if (stream_ != result)
            return;
        stream_ = nullptr;
        dbcancel(proc_);
    }

private:
    void ReadRow(std::vector<DbValue>& row, const std::vector<tds::ColumnType>& types) {
        row.clear();
        row.reserve(types.size());
        for (std::size_t i = 0; i < types.size(); ++i) {
            const int col = static_cast<int>(i) + 1;
            // dbdata gives a null pointer exactly for NULL.
            row.push_back(tds::DecodeValue(types[i], dbdata(proc_, col), dbdatlen(proc_, col)));
        }
    }

    // Stops a streaming result that is still open so that the connection can run another
    // statement; reading that result then reports the interruption.
    void ReleaseStream() {
        if (stream_ == nullptr)
            return;
        stream_->Detach();
        stream_ = nullptr;
        dbcancel(proc_);
    }

    [[noreturn]] void ThrowStatementError() {
        if (messages_.serverError)
            throw DatabaseError(messages_.serverError->second, messages_.serverError->first,
                                statement_);
        if (messages_.clientError)
            throw DatabaseError(messages_.clientError->second, messages_.clientError->first,
                                statement_);
        throw DatabaseError("The statement failed.", 0, statement_);
    }

    // Consumes all remaining results of the batch; throws the first error any of them had.
    void FinishBatch() {
        RETCODE rc;
        bool failed = false;
        while ((rc = dbresults(proc_)) != NO_MORE_RESULTS) {
            if (rc == FAIL) {
                failed = true;
                if (DBDEAD(proc_))
                    break;
                continue;
            }
            while (dbnextrow(proc_) != NO_MORE_ROWS) {
                if (DBDEAD(proc_))
                    break;
            }
        }
        if (failed || messages_.serverError || DBDEAD(proc_))
            ThrowStatementError();
    }

    std::unique_ptr<FreeTdsResultSet> Run(const std::string& statement, bool forceBuffer = false) {
        if (proc_ == nullptr)
            throw DatabaseError("The connection is closed.", 0, statement);
        ReleaseStream();
        statement_ = statement;
        messages_.Clear();
        if (statement.find('\0') != std::string::npos)
            throw DatabaseError("The statement contains a NUL character, which cannot be sent.", 0,
                                statement);
        if (DBDEAD(proc_))
            throw DatabaseError("The connection to the Sybase ASE server has been lost.", 0,
                                statement);
        SetCommandTimeout(options_.commandTimeoutSeconds.value_or(0));
        dbfreebuf(proc_);
        if (dbcmd(proc_, statement.c_str()) == FAIL || dbsqlexec(proc_) == FAIL) {
            dbcancel(proc_);
            ThrowStatementError();
        }

        std::unique_ptr<FreeTdsResultSet> result;
        bool failed = false;
        RETCODE rc;
        while (!result && (rc = dbresults(proc_)) != NO_MORE_RESULTS) {
            if (rc == FAIL) {
                failed = true;
                if (DBDEAD(proc_))
                    break;
                continue;
            }
            if (dbnumcols(proc_) <= 0)
                continue;
            result = Describe(forceBuffer || options_.cursorLocation == CursorLocation::Client);
        }
        if (failed || messages_.serverError) {
            if (result)
                result->Detach();
            dbcancel(proc_);
            ThrowStatementError();
        }
        return result;
    }

    // Builds the result set of the current results; buffered ones read all rows and the rest
    // of the batch right away.
    std::unique_ptr<FreeTdsResultSet> Describe(bool buffered) {
        const int count = dbnumcols(proc_);
        std::vector<FieldInfo> fields;
        std::vector<tds::ColumnType> types;
        for (int col = 1; col <= count; ++col) {
            DBCOL2 info{};
            info.SizeOfStruct = sizeof info;
            if (dbcolinfo(proc_, CI_REGULAR, col, 0, reinterpret_cast<DBCOL*>(&info)) == FAIL)
                throw DatabaseError("Column information is not available.", 0, statement_);
            tds::ColumnType type;
            type.wireType = info.ServerType != 0 ? info.ServerType : info.Type;
            type.userType = info.UserType;
            type.size = info.ServerMaxLength != 0 ? info.ServerMaxLength : info.MaxLength;
            FieldInfo field;
            field.name = info.Name;
            field.type = tds::AdoTypeOf(type);
            if (field.type == AdoType::Empty)
                throw DatabaseError("Column " + field.name + " has an unsupported type (" +
                                        std::to_string(type.wireType) + ").",
                                    0, statement_);
            field.definedSize = type.size;
            if (field.type == AdoType::Numeric) {
                field.precision = info.Precision;
                field.scale = info.Scale;
            } else if (field.type == AdoType::WChar || field.type == AdoType::VarWChar) {
                // Sent as UTF-16 (2 bytes a character); FreeTDS converts such columns to UTF-8
                // and then reports room for 4 bytes a character.
                field.definedSize = type.size / (type.wireType == tds::kText ? 4 : 2);
            }
            fields.push_back(std::move(field));
            types.push_back(type);
        }
        auto result =
            std::make_unique<FreeTdsResultSet>(this, std::move(fields), std::move(types), buffered);
        if (!buffered)
            stream_ = result.get();
        result->FetchRow();
        if (buffered) {
            while (result->FetchRow()) {
                if (options_.rowRead)
                    options_.rowRead();
            }
        }
        return result;
    }

    friend class FreeTdsResultSet;
    ConnectionOptions options_;
    DBPROCESS* proc_ = nullptr;
    Messages messages_;
    std::string statement_;
    FreeTdsResultSet* stream_ = nullptr;

public:
    bool ReadInto(std::vector<std::vector<DbValue>>& rows, const std::vector<tds::ColumnType>& t) {
        std::vector<DbValue> row;
        if (!NextRow(row, t))
            return false;
        rows.push_back(std::move(row));
        return true;
    }
};

FreeTdsResultSet::FreeTdsResultSet(FreeTdsSession* session, std::vector<FieldInfo> fields,
                                   std::vector<tds::ColumnType> types, bool buffered)
    : session_(session)
    , fields_(std::move(fields))
    , types_(std::move(types))
    , buffered_(buffered) {}

FreeTdsResultSet::~FreeTdsResultSet() {
    Close();
}

bool FreeTdsResultSet::FetchRow() {
    if (session_ == nullptr)
        return false;
    if (!session_->ReadInto(rows_, types_)) {
        session_ = nullptr;
        return false;
    }
    return true;
}

void FreeTdsResultSet::MoveNext() {
    if (IsEOF())
        throw DatabaseError("MoveNext past the end of the rows.");
    ++current_;
    if (buffered_)
        return;
    // A streaming result keeps only the current row.
    rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(current_));
    current_ = 0;
    if (interrupted_)
        throw DatabaseError("The rows are no longer available: another statement ran on the "
                            "connection before they were all read.");
    FetchRow();
}

void FreeTdsResultSet::Close() {
    if (session_ != nullptr)
        session_->StreamClosed(this);
    session_ = nullptr;
    rows_.clear();
    current_ = 0;
}

} // namespace

std::unique_ptr<ConnectionBackend> OpenFreeTdsBackend(const ConnectionTarget& target,
                                                      const ConnectionOptions& options) {
    return std::make_unique<FreeTdsSession>(target, options);
}

} // namespace veltrane
