// Sybase ASE backend on FreeTDS's DB-Library, speaking TDS 5.0.

#include "connect/freetds/FreeTdsBackend.h"
#include "connect/access/DatabaseError.h"
#include "connect/access/ServerWait.h"
#include "connect/freetds/FreeTdsErrors.h"
#include "connect/freetds/PackedRows.h"
#include "connect/freetds/TdsValues.h"
#include "connect/access/SqlText.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sybdb.h>
#include <utility>
#include <vector>

namespace veltrane::tds {

namespace {

constexpr int kNetworkPacketBytes = 2048;

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

class FreeTdsResultSet;

// The DB-Library connection and what belongs to it, shared by the backend and the result sets
// it hands out: a result set that outlives its backend, or whose read failed, finds the
// connection closed or itself no longer the one being read, never a dangling backend.
struct FreeTdsLink {
    DBPROCESS* proc = nullptr;
    Messages messages;
    std::string statement;
    // The result set whose rows are being read from the server (server cursor); it clears
    // this when it goes away.
    FreeTdsResultSet* stream = nullptr;

    bool Dead() const { return proc == nullptr || DBDEAD(proc); }

    [[noreturn]] void ThrowStatementError() {
        const bool lost =
            Dead() || (messages.clientError && LosesConnection(messages.clientError->first));
        std::pair<int, std::string> error{0, "The statement failed."};
        if (messages.serverError)
            error = *messages.serverError;
        else if (messages.clientError)
            error = *messages.clientError;
        const FailureReason reason = lost ? FailureReason::ConnectionLost
                                     : messages.serverError ? ReasonOf(error.first)
                                                            : FailureReason::Refused;
        if (lost)
            error.second = "The connection to the Sybase ASE server has been lost: " + error.second;
        throw DatabaseError(error.second, error.first, statement, reason);
    }

    // A character that FreeTDS could not convert fails the statement or the read, rather
    // than arriving as the '?' that FreeTDS put in its place; the rest of the batch is dropped.
    void CheckConversion() {
        if (!messages.conversionError)
            return;
        if (!Dead())
            dbcancel(proc);
        const char* charset = proc != nullptr ? dbservcharset(proc) : nullptr;
        throw DatabaseError("A character cannot be converted between UTF-8 and the character "
                            "set of the Sybase ASE server" +
                                (charset && *charset ? " (" + std::string(charset) + ")" : "") +
                                ": " + messages.conversionError->second,
                            messages.conversionError->first, statement);
    }

    // Consumes all remaining results of the batch; throws the first error any of them had.
    void FinishBatch() {
        RETCODE rc;
        bool failed = false;
        while ((rc = dbresults(proc)) != NO_MORE_RESULTS) {
            if (rc == FAIL) {
                failed = true;
                if (DBDEAD(proc))
                    break;
                continue;
            }
            failed = !DiscardRows() || failed;
            if (DBDEAD(proc))
                break;
        }
        CheckConversion();
        if (failed || messages.serverError || DBDEAD(proc))
            ThrowStatementError();
    }

    // Reads and drops the rows of the current results; false when reading them failed.
    bool DiscardRows() {
        STATUS row;
        while ((row = dbnextrow(proc)) != NO_MORE_ROWS) {
            if (row == FAIL)
                return false;
        }
        return true;
    }

    // Moves to the next row of the current results: true on a row, false at their end, after
    // which the rest of the batch has been processed (and its errors thrown).
    bool NextRow() {
        for (;;) {
            const STATUS status = dbnextrow(proc);
            CheckConversion();
            if (status == REG_ROW)
                return true;
            if (status == NO_MORE_ROWS) {
                FinishBatch();
                return false;
            }
            if (status == FAIL) {
                if (!DBDEAD(proc))
                    dbcancel(proc);
                ThrowStatementError();
            }
            // Compute rows are not produced by the statements this program runs; skip them.
        }
    }

    // The current row's raw values; dbdata gives a null pointer exactly for NULL.
    void CurrentRow(std::vector<tds::RawField>& row) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int col = static_cast<int>(i) + 1;
            row[i] = {dbdata(proc, col), static_cast<std::size_t>(dbdatlen(proc, col))};
        }
    }

    // Frees the connection from the stream, if there is one, so that it can do something else:
    // with keepRows the stream's remaining rows are read into memory first (its result set
    // stays whole), otherwise its result set is closed.
    void ReleaseStream(bool keepRows);
    // Frees every result set from the connection before it closes. Only the stream reads from
    // it; the others hold their rows.
    void ReleaseAll() { ReleaseStream(false); }
};

// A result set that holds all its rows (client cursor), packed as raw bytes and decoded a row
// at a time, or reads them from the server as the caller moves on (server cursor).
class FreeTdsResultSet final : public ResultSet {
public:
    FreeTdsResultSet(std::shared_ptr<FreeTdsLink> link, std::vector<FieldInfo> fields,
                     std::vector<tds::ColumnType> types, bool buffered)
        : link_(std::move(link))
        , fields_(std::move(fields))
        , types_(std::move(types))
        , buffered_(buffered)
        , raw_(types_.size()) {}
    ~FreeTdsResultSet() override { Close(); }

    int FieldCount() const override { return static_cast<int>(fields_.size()); }
    const FieldInfo& Field(int index) const override {
        CheckIndex(index);
        return fields_[static_cast<std::size_t>(index)];
    }
    const DbValue& Value(int index) const override {
        CheckIndex(index);
        if (closed_)
            throw ObjectClosedError();
        if (IsEOF())
            throw NoCurrentRecordError();
        return current_[static_cast<std::size_t>(index)];
    }
    std::int64_t RecordCount() const override {
        return buffered_ ? static_cast<std::int64_t>(rows_.RowCount()) : -1;
    }
    bool IsEOF() const override { return !onRow_; }
    void MoveNext() override;
    void Close() override;

    // Reads all rows (client cursor) or the first one (server cursor) and the rest of the
    // batch as far as it has to; positions on the first row. `rowRead`, when set, is called
    // after each row a client cursor reads.
    void Start(const std::function<void()>& rowRead);
    void RenameField(int index, std::string name) {
        CheckIndex(index);
        fields_[static_cast<std::size_t>(index)].name = std::move(name);
    }
    // Reads the rest of a streaming result into memory, so that another statement can run.
    void Drain();

private:
    void CheckIndex(int index) const {
        if (index < 0 || index >= FieldCount())
            throw UnknownFieldError(std::to_string(index));
    }
    // Reads the next row from the server into `raw_`; false at the end of the rows.
    bool ReadRow();
    void Decode() {
        current_.resize(types_.size());
        for (std::size_t i = 0; i < types_.size(); ++i)
            current_[i] = tds::DecodeValue(types_[i], raw_[i].data,
                                           static_cast<std::int64_t>(raw_[i].length));
    }
    void StopReading() {
        reading_ = false;
        if (link_->stream == this)
            link_->stream = nullptr;
    }

    std::shared_ptr<FreeTdsLink> link_;
    std::vector<FieldInfo> fields_;
    std::vector<tds::ColumnType> types_;
    bool buffered_;
    bool reading_ = true;  // rows may still come from the server
    bool drained_ = false; // server cursor: the remaining rows were read into rows_
    bool closed_ = false;
    bool onRow_ = false;
    tds::PackedRows rows_;     // client cursor: every row
    std::size_t position_ = 0; // client cursor: index of the current row
    std::vector<tds::RawField> raw_;
    std::vector<DbValue> current_;
};

void FreeTdsLink::ReleaseStream(bool keepRows) {
    if (stream == nullptr)
        return;
    if (keepRows)
        stream->Drain(); // reads to the end of the batch, which ends the stream
    else
        stream->Close(); // cancels the rest
}

void FreeTdsResultSet::Drain() {
    const ClientLibraryWaits waits;
    position_ = 0;
    while (ReadRow())
        rows_.Append(raw_);
    drained_ = true;
}

bool FreeTdsResultSet::ReadRow() {
    if (!reading_)
        return false;
    try {
        if (link_->NextRow()) {
            link_->CurrentRow(raw_);
            return true;
        }
    } catch (...) {
        StopReading();
        throw;
    }
    StopReading();
    return false;
}

void FreeTdsResultSet::Start(const std::function<void()>& rowRead) {
    if (!buffered_) {
        link_->stream = this;
        onRow_ = ReadRow();
        if (onRow_)
            Decode();
        return;
    }
    try {
        while (ReadRow()) {
            rows_.Append(raw_);
            if (rowRead)
                rowRead();
        }
    } catch (...) {
        // Failed here rather than in the read (the callback, memory): the rest of the results
        // is still on its way and would block the connection's next statement.
        if (reading_) {
            reading_ = false;
            if (!link_->Dead())
                dbcancel(link_->proc);
        }
        throw;
    }
    onRow_ = rows_.RowCount() > 0;
    if (onRow_) {
        rows_.Read(0, raw_);
        Decode();
    }
}

void FreeTdsResultSet::MoveNext() {
    const ClientLibraryWaits waits;
    if (closed_)
        throw ObjectClosedError();
    if (IsEOF())
        throw NoCurrentRecordError();
    onRow_ = false;
    current_.clear();
    if (buffered_) {
        if (++position_ < rows_.RowCount()) {
            rows_.Read(position_, raw_);
            Decode();
            onRow_ = true;
        }
        return;
    }
    if (drained_) {
        if (position_ < rows_.RowCount()) {
            rows_.Read(position_++, raw_);
            Decode();
            onRow_ = true;
        }
        return;
    }
    onRow_ = ReadRow();
    if (onRow_)
        Decode();
}

void FreeTdsResultSet::Close() {
    const ClientLibraryWaits waits;
    if (link_->stream == this) {
        link_->stream = nullptr;
        if (!link_->Dead())
            dbcancel(link_->proc);
    }
    reading_ = false;
    closed_ = true;
    onRow_ = false;
    current_.clear();
    rows_.Clear();
}

class FreeTdsBackend final : public ConnectionBackend {
public:
    FreeTdsBackend(const ConnectionTarget& target, const ConnectionOptions& options)
        : options_(options)
        , link_(std::make_shared<FreeTdsLink>()) {
        // DB-Library has no call that returns while it waits: its waits take turns instead.
        const ClientLibraryWaits waits;
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
        // ASE's own default and maximum network packet size; FreeTDS would ask for 512 bytes,
        // which makes reading a large table cost several reads a row.
        DBSETLPACKET(login, kNetworkPacketBytes);
        // Every open is bounded: connect and login together get the connection timeout, or
        // ADO's default of 15 seconds where none (or no limit) is set.
        const int loginSeconds = options.connectionTimeoutSeconds.value_or(0) > 0
                                     ? *options.connectionTimeoutSeconds
                                     : 15;
        dbsetlogintime(loginSeconds);

        const std::string server = target.host + ":" + std::to_string(target.port);
        Messages& messages = link_->messages;
        messages.loginSeconds = loginSeconds;
        openingMessages = &messages;
        link_->proc = dbopen(login, server.c_str());
        openingMessages = nullptr;
        messages.loginSeconds = 0;
        processCommandTimeout = -1;
        dbloginfree(login);
        if (link_->proc == nullptr) {
            std::string text = "Cannot connect to Sybase ASE at " + server + ": ";
            if (messages.serverError)
                throw DatabaseError(text + messages.serverError->second,
                                    messages.serverError->first);
            if (messages.clientError)
                throw DatabaseError(text + messages.clientError->second,
                                    messages.clientError->first);
            throw DatabaseError(text + "the login failed.");
        }
        dbsetuserdata(link_->proc, reinterpret_cast<BYTE*>(&messages));
        try {
            if (!target.database.empty())
                Run("use " + QuoteSybaseIdentifier(target.database));
            // Without this a server cuts every text value at 32 KB.
            Run("set textsize 2147483647");
        } catch (...) {
            Close();
            throw;
        }
    }

    ~FreeTdsBackend() override { Close(); }

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
        if (link_->proc == nullptr)
            return;
        const ClientLibraryWaits waits;
        link_->ReleaseAll();
        DBPROCESS* proc = std::exchange(link_->proc, nullptr);
        dbsetuserdata(proc, nullptr);
        dbclose(proc);
    }

private:
    std::unique_ptr<FreeTdsResultSet> Run(const std::string& statement, bool forceBuffer = false) {
        const ClientLibraryWaits waits;
        FreeTdsLink& link = *link_;
        if (link.proc == nullptr)
            throw ObjectClosedError();
        // Refused before anything else, so that an open result stays as it was.
        if (statement.find('\0') != std::string::npos)
            throw DatabaseError("The statement contains a NUL character, which cannot be sent.", 0,
                                statement);
        link.ReleaseStream(true);
        link.statement = statement;
        link.messages.Clear();
        if (link.Dead())
            throw DatabaseError("The connection to the Sybase ASE server has been lost.", 0,
                                statement, FailureReason::ConnectionLost);
        SetCommandTimeout(options_.commandTimeoutSeconds.value_or(0));
        dbfreebuf(link.proc);
        if (dbcmd(link.proc, statement.c_str()) == FAIL || dbsqlexec(link.proc) == FAIL) {
            link.CheckConversion();
            if (!link.Dead())
                dbcancel(link.proc);
            link.ThrowStatementError();
        }
        link.CheckConversion();

        bool failed = false;
        RETCODE rc;
        while ((rc = dbresults(link.proc)) != NO_MORE_RESULTS) {
            link.CheckConversion();
            if (rc == FAIL) {
                failed = true;
                if (link.Dead())
                    break;
                continue;
            }
            if (dbnumcols(link.proc) <= 0)
                continue;
            if (!failed && !link.messages.serverError)
                return Describe(forceBuffer || options_.cursorLocation == CursorLocation::Client);
            // Rows after an error of the batch are not returned; the error is.
            link.DiscardRows();
        }
        if (failed || link.messages.serverError || link.Dead()) {
            if (!link.Dead())
                dbcancel(link.proc);
            link.ThrowStatementError();
        }
        return nullptr;
    }

    // The result set of the current results, positioned on its first row.
    std::unique_ptr<FreeTdsResultSet> Describe(bool buffered) {
        DBPROCESS* proc = link_->proc;
        const int count = dbnumcols(proc);
        std::vector<FieldInfo> fields;
        std::vector<tds::ColumnType> types;
        for (int col = 1; col <= count; ++col) {
            DBCOL2 info{};
            info.SizeOfStruct = sizeof info;
            if (dbcolinfo(proc, CI_REGULAR, col, 0, reinterpret_cast<DBCOL*>(&info)) == FAIL)
                throw DatabaseError("Column information is not available.", 0, link_->statement);
            tds::ColumnType type;
            type.wireType = info.ServerType != 0 ? info.ServerType : info.Type;
            type.userType = info.UserType;
            type.size = info.ServerMaxLength != 0 ? info.ServerMaxLength : info.MaxLength;
            FieldInfo field;
            field.name = info.Name;
            field.type = tds::AdoTypeOf(type);
            if (field.type == AdoType::Empty) {
                dbcancel(proc);
                throw DatabaseError("Column " + field.name + " has an unsupported type (" +
                                        std::to_string(type.wireType) + ").",
                                    0, link_->statement);
            }
            field.definedSize = type.size;
            field.precision = IntegerPrecision(field.type);
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
        auto result = std::make_unique<FreeTdsResultSet>(link_, std::move(fields), std::move(types),
                                                         buffered);
        result->Start(options_.rowRead);
        return result;
    }

    ConnectionOptions options_;
    std::shared_ptr<FreeTdsLink> link_;
};

} // namespace

} // namespace veltrane::tds

namespace veltrane {

std::unique_ptr<ConnectionBackend> OpenFreeTdsBackend(const ConnectionTarget& target,
                                                      const ConnectionOptions& options) {
    return std::make_unique<tds::FreeTdsBackend>(target, options);
}

} // namespace veltrane
