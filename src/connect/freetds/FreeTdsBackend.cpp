// Sybase ASE backend on FreeTDS's DB-Library, speaking TDS 5.0.

#include "connect/freetds/FreeTdsBackend.h"

#include "connect/access/DatabaseError.h"
#include "connect/access/ServerWait.h"
#include "connect/access/SqlText.h"
#include "connect/freetds/FreeTdsErrors.h"
#include "connect/freetds/FreeTdsLink.h"
#include "connect/freetds/FreeTdsResultSet.h"
#include "connect/freetds/TdsValues.h"

#include <atomic>
#include <memory>
#include <mutex>
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

} // namespace

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
        std::vector<ColumnType> types;
        for (int col = 1; col <= count; ++col) {
            DBCOL2 info{};
            info.SizeOfStruct = sizeof info;
            if (dbcolinfo(proc, CI_REGULAR, col, 0, reinterpret_cast<DBCOL*>(&info)) == FAIL)
                throw DatabaseError("Column information is not available.", 0, link_->statement);
            ColumnType type;
            type.wireType = info.ServerType != 0 ? info.ServerType : info.Type;
            type.userType = info.UserType;
            type.size = info.ServerMaxLength != 0 ? info.ServerMaxLength : info.MaxLength;
            FieldInfo field;
            field.name = info.Name;
            field.type = AdoTypeOf(type);
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
                field.definedSize = type.size / (type.wireType == kText ? 4 : 2);
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

} // namespace veltrane::tds

namespace veltrane {

std::unique_ptr<ConnectionBackend> OpenFreeTdsBackend(const ConnectionTarget& target,
                                                      const ConnectionOptions& options) {
    return std::make_unique<tds::FreeTdsBackend>(target, options);
}

} // namespace veltrane
