// The SQL side of the TDS test server: a small Sybase ASE dialect executed over SQLite.
// The protocol layer (Session.cpp) only sees what is declared here: it hands a batch of
// SQL text or a procedure call to an EngineSession and encodes the outcomes on the wire.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace asetest {

// 38 decimal digits need 127 bits.
__extension__ typedef __int128 Int128;

// Column types as ASE declares them. Nullable fixed types keep their declared type here;
// the wire encoder picks the nullable wire type (INTN, FLTN, ...) from `nullable`.
enum class AseType {
    TinyInt,
    SmallInt,
    Int,
    BigInt,
    USmallInt,
    UInt,
    UBigInt,
    Numeric,
    Decimal,
    Real,
    Float, // float and double precision (8 bytes)
    Money,
    SmallMoney,
    Bit,
    DateTime,
    SmallDateTime,
    Date,
    Time,
    BigDateTime,
    BigTime,
    Char,
    VarChar,
    UniChar,    // length in characters, sent as UTF-16LE
    UniVarChar, // length in characters, sent as UTF-16LE
    Text,
    UniText,
    Binary,
    VarBinary,
    Image,
};

struct ColumnType {
    AseType type = AseType::Int;
    int length = 0;    // char/varchar/binary/varbinary: bytes; unichar/univarchar: characters
    int precision = 0; // numeric/decimal: 1..38
    int scale = 0;     // numeric/decimal: 0..precision
    bool nullable = false;
};

// One value, in the layout the wire needs for its column's type:
//  - integer types and bit: `integer` (unsigned types: `unsignedInteger`);
//  - numeric/decimal: `unscaled` = value * 10^scale, as a signed 128-bit integer;
//  - money/smallmoney: `integer` = value * 10^4;
//  - real/float: `real`;
//  - datetime: `days` since 1900-01-01 and `fraction` in 1/300 s since midnight;
//    smalldatetime: `days`, `fraction` in minutes; date: `days`; time: `fraction` in 1/300 s;
//    bigdatetime: `days`, `fraction` in microseconds; bigtime: `fraction` in microseconds;
//  - char/varchar/text/unichar/univarchar/unitext: `bytes` as UTF-8;
//  - binary/varbinary/image: `bytes`.
// A text, unitext or image NULL that once held a value keeps its text pointer, as on ASE:
// `textPointer` is set, and it is sent with a pointer and a length of 0.
struct Value {
    bool isNull = true;
    bool textPointer = false; // only with isNull, in a text/unitext/image column
    std::int64_t integer = 0;
    std::uint64_t unsignedInteger = 0;
    Int128 unscaled = 0;
    double real = 0;
    std::int64_t days = 0;
    std::int64_t fraction = 0;
    std::string bytes;
};

struct ResultColumn {
    std::string name;
    ColumnType type;
};

// A server message. Severity 10 and below is information (5701 and the like).
struct Message {
    int number = 0;
    int severity = 0;
    int state = 1;
    std::string text;
};

// What one statement of a batch produced, in order: messages, then an optional result set,
// then the DONE.
struct StatementOutcome {
    std::vector<Message> messages;
    bool hasResultSet = false;
    std::vector<ResultColumn> columns;
    std::vector<std::vector<Value>> rows;
    bool failed = false;          // DONE carries the error bit
    std::int64_t rowCount = -1;   // DONE carries the count bit when >= 0
    bool databaseChanged = false; // send ENVCHANGE database (newDatabase, oldDatabase)
    std::string newDatabase;
    std::string oldDatabase;
    bool isProcedure = false; // stored procedure: DONEINPROC, RETURNSTATUS, DONEPROC
    int returnStatus = 0;
};

struct EngineOptions {
    std::filesystem::path dataDirectory; // one SQLite file per database; master always exists
    std::string serverName = "ASETEST";
    // The login that owns every database and works in each as its Database Owner, "dbo", as
    // sa does on ASE. Every other login works in each database as the user of its own name.
    std::string ownerLogin = "sa";
};

class EngineSession {
public:
    virtual ~EngineSession() = default;

    // Runs a batch of statements separated by white space only. A syntax error anywhere
    // stops the whole batch before anything runs (one outcome with the error).
    // `cancelled` becomes true when the client sends an attention; the engine stops at the
    // next statement or row boundary and returns what it has.
    virtual std::vector<StatementOutcome> ExecuteBatch(std::string_view sql,
                                                       const std::atomic<bool>& cancelled) = 0;

    // A stored procedure called by RPC, parameters as text (NULL parameters as nullopt-like
    // empty vectors are not needed by the clients we serve: absent parameters are omitted).
    virtual std::vector<StatementOutcome> CallProcedure(std::string_view name,
                                                        const std::vector<std::string>& parameters,
                                                        const std::atomic<bool>& cancelled) = 0;

    // The same with the parameters' names as sent ("@table_name", or empty for a parameter
    // given by position) and NULL values told apart. Without names this is CallProcedure.
    struct NamedParameter {
        std::string name;
        std::string value;
        bool isNull = false;
    };
    virtual std::vector<StatementOutcome>
    CallProcedureNamed(std::string_view name, const std::vector<NamedParameter>& parameters,
                       const std::atomic<bool>& cancelled) {
        std::vector<std::string> values;
        for (const NamedParameter& p : parameters) {
            values.push_back(p.isNull ? std::string() : p.value);
        }
        return CallProcedure(name, values, cancelled);
    }

    virtual std::string CurrentDatabase() const = 0;
    // Bytes of text/unitext/image sent per value: 32768 by default, `set textsize N`.
    virtual std::int64_t TextSize() const = 0;
    virtual void SetTextSize(std::int64_t bytes) = 0; // 0 restores the default (OPTIONCMD)
};

class Engine {
public:
    virtual ~Engine() = default;
    // Fails with std::runtime_error when the data directory or master cannot be opened.
    static std::unique_ptr<Engine> Open(const EngineOptions& options);
    // One session per client connection, used by one thread at a time; sessions of
    // different clients run concurrently. `login` is the login name the client gave.
    virtual std::unique_ptr<EngineSession> OpenSession(int spid, std::string login) = 0;
};

} // namespace asetest
