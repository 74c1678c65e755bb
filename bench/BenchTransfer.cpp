// Whole transfers in both directions, run through the "Send Table/s" handlers of an offscreen
// main window with scripted answers, against the private MariaDB and the TDS test server, in
// one run. For tables of N and 10 x N rows of ten mixed columns it prints:
//   - rows/s of the transfer, and of a bare loop sending the same INSERT statements through
//     the client library (libmariadb, DB-Library) on one connection, and their ratio;
//   - the cost per row at N and at 10 x N, and their ratio (linear: close to 1);
//   - the longest stall of the event loop during the run, from a 1 ms timer that records how
//     late it fires (the first firing of a run, which waited for the connections to open, is
//     left out);
//   - the peak resident memory during the run minus that before it, against the table's bytes
//     (the text of its values).
//
// Then, through a relay in front of each server that holds every chunk for 5 ms each way (a
// round trip of 10 ms, a server across a network), it copies a table of min(N, 2000) rows in
// each direction onto a table of that name that the target list already shows, so that the run
// answers "Overwrite?" Yes and drops it first, and prints:
//   - the longest stall of the event loop over the whole run, from a 1 ms timer that counts
//     from the click (the opens, DROP, CREATE and every statement count), against its goal of
//     50 ms;
//   - rows/s of the transfer and of the bare loop through the same relay, and their ratio,
//     against its goal of 0.95.
//
// With --large it copies one table of ROWS narrow rows (about 60 bytes of text each) each way
// instead, without the bare loop, and checks the peak memory growth against its goal of
// 1.5 x the table's bytes + 30 MB.
//
// Usage: bench_transfer [N, default 20000] | bench_transfer --large [ROWS, default 1000000].
// Reads the servers from VELTRANE_TEST_MYSQL_* and
// VELTRANE_TEST_ASE_*; scripts/bench-transfer starts them, runs this and stops them.

#include "BenchClients.h"
#include "BenchEventLoop.h"
#include "BenchSupport.h"
#include "LatencyRelay.h"
#include "app/shell/Dialogs.h"
#include "app/shell/Yield.h"
#include "catalogue/window/Form2.h"
#include "catalogue/window/Form2Controls.h"
#include "connect/Connection.h"
#include "connect/ConnectionProfile.h"
#include "connect/LiveProfiles.h"
#include "connect/access/DatabaseError.h"
#include "connect/access/SqlText.h"
#include "transfer/statements/ColumnTypes.h"
#include "transfer/statements/RowStatements.h"

#include <QApplication>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <mysql.h>
#include <string>
#include <sybdb.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace veltrane;
using namespace veltrane::bench;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_transfer: %s\n", what.c_str());
    std::exit(1);
}

// ---- Bare client loops ---------------------------------------------------------------------

void SendBareMySQL(const ServerEnv& s, const std::vector<std::string>& statements) {
    MYSQL* mysql = OpenBareMySQL(s);
    for (const std::string& statement : statements)
        if (mysql_real_query(mysql, statement.data(), statement.size()) != 0)
            Fail(std::string("bare libmariadb: ") + mysql_error(mysql));
    mysql_close(mysql);
}

void SendBareSybase(const ServerEnv& s, const std::vector<std::string>& statements) {
    DBPROCESS* proc = OpenBareSybase(s);
    for (const std::string& statement : statements) {
        if (dbcmd(proc, statement.c_str()) == FAIL || dbsqlexec(proc) == FAIL)
            Fail("bare DB-Library statement failed");
        while (dbresults(proc) != NO_MORE_RESULTS)
            while (dbnextrow(proc) != NO_MORE_ROWS) {
            }
    }
    dbclose(proc);
}

// ---- Memory and the event loop -------------------------------------------------------------

long StatusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::atol(line.c_str() + prefix.size());
    return -1;
}

// Sets the peak resident size back to the current one.
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// ---- Source tables and runs ---------------------------------------------------------------

ConnectionProfile ProfileOf(const ServerEnv& s) {
    return {QString::fromStdString(s.host), QString::fromStdString(s.port),
            QString::fromStdString(s.user), QString::fromStdString(s.password),
            QString::fromStdString(s.database)};
}

// Row i of the benchmark table: integers, decimal, double, datetime(6), short and long text,
// NULLs in two columns.
std::vector<std::string> RowLiterals(long i) {
    const std::string n = std::to_string(i);
    std::string longText = "long text of row " + n + " with 'quotes' and \\ backslashes: ";
    while (longText.size() < 600)
        longText += "lorem ipsum dolor sit amet " + n + " ";
    std::string quotedLong;
    AppendTextLiteral(quotedLong, longText);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "'2024-%02ld-%02ld %02ld:%02ld:%02ld.%06ld'", 1 + i % 12,
                  1 + i % 28, i % 24, i % 60, (i / 60) % 60, (i * 7919) % 1000000);
    return {n,
            std::to_string(i * 1000003L),
            std::to_string(i % 100000) + "." + std::to_string(10 + i % 90),
            std::to_string(static_cast<double>(i) / 7.0),
            stamp,
            "'name " + n + " O''Brien'",
            quotedLong,
            i % 3 == 0 ? "NULL" : std::to_string(i % 1000),
            i % 5 == 0 ? "NULL" : "'code " + std::to_string(i % 97) + "'",
            std::to_string(i % 30000)};
}

// A benchmark table: its columns on each server and the literals of row i.
struct TableShape {
    const char* mysqlColumns;
    const char* sybaseColumns;
    std::vector<std::string> (*row)(long i);
};

const TableShape kWideTable{
    "(id INT, big BIGINT, amount DECIMAL(12,2), ratio DOUBLE, stamp DATETIME(6), name "
    "VARCHAR(40), body TEXT, maybe INT NULL, code VARCHAR(20) NULL, small SMALLINT)",
    "(id int, big bigint, amount numeric(12,2), ratio float, stamp bigdatetime, name "
    "varchar(40), body text, maybe int null, code varchar(20) null, small smallint)",
    RowLiterals};

// Row i of the narrow table: about 60 bytes of text in four columns, one of them NULL at
// times.
std::vector<std::string> NarrowRowLiterals(long i) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "'2024-%02ld-%02ld %02ld:%02ld:%02ld'", 1 + i % 12,
                  1 + i % 28, i % 24, i % 60, (i / 60) % 60);
    return {std::to_string(i), std::to_string(i % 1000000) + "." + std::to_string(10 + i % 90),
            i % 7 == 0 ? "NULL" : "'customer " + std::to_string(i * 31 % 100000) + " O''Neil'",
            stamp};
}

const TableShape kNarrowTable{
    "(id INT, amount DECIMAL(12,2), name VARCHAR(40) NULL, stamp DATETIME)",
    "(id int, amount numeric(12,2), name varchar(40) null, stamp datetime)", NarrowRowLiterals};

void CreateSourceTable(Connection& c, bool mysql, const std::string& table, long rows,
                       const TableShape& shape = kWideTable) {
    const std::string quoted = mysql ? QuoteMySQLIdentifier(table) : QuoteSybaseIdentifier(table);
    c.Execute("CREATE TABLE " + quoted + " " + (mysql ? shape.mysqlColumns : shape.sybaseColumns));
    const long chunk = mysql ? 500 : 200;
    for (long first = 1; first <= rows; first += chunk) {
        std::string batch = mysql ? "INSERT INTO " + quoted + " VALUES " : std::string();
        for (long i = first; i < first + chunk && i <= rows; ++i) {
            std::string values;
            for (const std::string& v : shape.row(i))
                values += (values.empty() ? "(" : ", ") + v;
            values += ")";
            if (mysql)
                batch += (i == first ? "" : ", ") + values;
            else
                batch += "insert into " + quoted + " values " + values + "\n";
        }
        c.Execute(batch);
    }
}

std::unique_ptr<Connection> OpenSource(const ServerEnv& s, bool mysql) {
    auto c = std::make_unique<Connection>();
    c->SetCursorLocation(CursorLocation::Client);
    c->Open(mysql ? MySQLConnectionString(s) : SybaseConnectionString(s));
    return c;
}

void DropIfThere(const ServerEnv& s, bool mysql, const std::string& table) {
    Connection c;
    c.Open(mysql ? MySQLConnectionString(s) : SybaseConnectionString(s));
    try {
        c.Execute("DROP TABLE " +
                  (mysql ? QuoteMySQLIdentifier(table) : QuoteSybaseIdentifier(table)));
    } catch (const DatabaseError&) {
    }
}

struct RunFigures {
    long rows = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    double stallMs = 0;
    double peakMegabytes = 0;
};

// With `overwrite` the target already holds a table of that name and its list shows it: the run
// answers "Overwrite?" Yes and drops it before creating the copy.
RunFigures RunTransfer(ServerKind toward, const ServerEnv& mysql, const ServerEnv& ase,
                       const std::string& table, long rows, StallWatch& watch,
                       bool overwrite = false) {
    const bool toSybase = toward == ServerKind::SybaseASE;
    const ServerEnv& to = toSybase ? ase : mysql;
    DropIfThere(to, !toSybase, table);
    ScriptedDialogs dialogs;
    FixedProfiles profiles;
    profiles.mysql = ProfileOf(mysql);
    profiles.sybase = ProfileOf(ase);
    Form2 form(dialogs, profiles);
    form.show();
    TableListBox& source = toSybase ? form.List1() : form.List2();
    source.AddItem(QString::fromStdString(table));
    source.setCurrentRow(0);
    source.SetSelected(0, true);
    if (overwrite) {
        Connection c;
        c.Open(toSybase ? SybaseConnectionString(to) : MySQLConnectionString(to));
        c.Execute("CREATE TABLE " +
                  (toSybase ? QuoteSybaseIdentifier(table) : QuoteMySQLIdentifier(table)) +
                  " (id INT)");
        (toSybase ? form.List2() : form.List1()).AddItem(QString::fromStdString(table));
        dialogs.QueueAnswer(MessageAnswer::Yes);
    }

    QCoreApplication::processEvents();
    // Memory freed by earlier runs goes back to the system first; otherwise the run would
    // reuse it without growing and the growth would show as nothing.
    malloc_trim(0);
    ResetPeakMemory();
    const long before = StatusKilobytes("VmRSS");
    watch.Start();
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    form.PushButton(toSybase ? 3 : 4).click();
    RunFigures f;
    f.cpuSeconds = CpuSeconds() - cpuStart;
    f.seconds = Seconds(std::chrono::steady_clock::now() - start);
    f.stallMs = watch.Stop();
    f.peakMegabytes = static_cast<double>(StatusKilobytes("VmHWM") - before) / 1024.0;
    f.rows = rows;
    const std::size_t questions = overwrite ? 1 : 0;
    if (dialogs.shown().size() != questions ||
        (overwrite && dialogs.shown()[0].buttons != MessageButtons::YesNo))
        Fail("the transfer showed: " + (dialogs.shown().empty()
                                            ? std::string("no overwrite question")
                                            : dialogs.shown().back().text.left(400).toStdString()));
    return f;
}

// The INSERT statements the transfer writes for `table`, for a copy named `copy` (created
// here), to be sent with the bare client; and the table's bytes (the text of every value).
struct BareLoop {
    bool toSybase = false;
    ServerEnv target = ServerEnv::MySQL();
    std::vector<std::string> statements;
    double tableMegabytes = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    // Reading the source table whole through the program's own connection, as the transfer
    // does before its first INSERT; part of the transfer's time and not of the bare loop's.
    double readSeconds = 0;

    // Sends statements [first, last) and adds the time it took.
    void Send(std::size_t first, std::size_t last) {
        const std::vector<std::string> part(statements.begin() + static_cast<long>(first),
                                            statements.begin() + static_cast<long>(last));
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        if (toSybase)
            SendBareSybase(target, part);
        else
            SendBareMySQL(target, part);
        cpuSeconds += CpuSeconds() - cpuStart;
        seconds += Seconds(std::chrono::steady_clock::now() - start);
    }
};

BareLoop PrepareBare(ServerKind toward, const ServerEnv& mysql, const ServerEnv& ase,
                     const std::string& table, const std::string& copy) {
    BareLoop b;
    b.toSybase = toward == ServerKind::SybaseASE;
    const ServerEnv& from = b.toSybase ? mysql : ase;
    b.target = b.toSybase ? ase : mysql;
    DropIfThere(b.target, !b.toSybase, copy);
    const auto readStart = std::chrono::steady_clock::now();
    auto source = OpenSource(from, b.toSybase);
    auto rows = source->Execute("SELECT * FROM " + (b.toSybase ? QuoteMySQLIdentifier(table)
                                                               : QuoteSybaseIdentifier(table)));
    b.readSeconds = Seconds(std::chrono::steady_clock::now() - readStart);
    std::vector<FieldInfo> fields;
    for (int i = 0; i < rows->FieldCount(); ++i)
        fields.push_back(rows->Field(i));
    Connection target;
    target.Open(b.toSybase ? SybaseConnectionString(b.target) : MySQLConnectionString(b.target));
    target.Execute(CreateTableStatement(toward, copy, fields));
    InsertRowBuilder insert(toward, copy);
    double bytes = 0;
    for (; !rows->IsEOF(); rows->MoveNext()) {
        b.statements.push_back(insert.Build(*rows));
        for (int i = 0; i < rows->FieldCount(); ++i)
            bytes += static_cast<double>(rows->Value(i).ToText().size());
    }
    b.tableMegabytes = bytes / (1024.0 * 1024.0);
    return b;
}

// The bytes of a table's values as text, read row by row without keeping them.
double TableMegabytes(const ServerEnv& s, bool mysql, const std::string& table) {
    Connection c;
    c.SetCursorLocation(CursorLocation::Server);
    c.Open(mysql ? MySQLConnectionString(s) : SybaseConnectionString(s));
    auto rows = c.Execute("SELECT * FROM " +
                          (mysql ? QuoteMySQLIdentifier(table) : QuoteSybaseIdentifier(table)));
    double bytes = 0;
    for (; !rows->IsEOF(); rows->MoveNext())
        for (int i = 0; i < rows->FieldCount(); ++i)
            bytes += static_cast<double>(rows->Value(i).ToText().size());
    return bytes / (1024.0 * 1024.0);
}

// One table of `rows` narrow rows each way, without the bare loop (it would double a long
// run): rows/s, the longest stall and the peak memory growth against the goal.
void RunLarge(const ServerEnv& mysql, const ServerEnv& ase, long rows, const std::string& tag) {
    std::printf("One table of %ld rows each way, 4 columns (int, decimal, varchar(40) with "
                "NULLs, datetime)\n",
                rows);
    StallWatch watch;
    for (const ServerKind toward : {ServerKind::SybaseASE, ServerKind::MySQL}) {
        const bool toSybase = toward == ServerKind::SybaseASE;
        const ServerEnv& from = toSybase ? mysql : ase;
        const std::string table = "vt_large_" + std::string(toSybase ? "my" : "ase") + "_" + tag;
        DropIfThere(from, toSybase, table);
        auto start = std::chrono::steady_clock::now();
        {
            Connection c;
            c.Open(toSybase ? MySQLConnectionString(from) : SybaseConnectionString(from));
            CreateSourceTable(c, toSybase, table, rows, kNarrowTable);
        }
        const double tableMegabytes = TableMegabytes(from, toSybase, table);
        std::printf("\n%s (source table of %.1f MB written in %.0f s)\n",
                    toSybase ? "MySQL -> Sybase ASE (PushButton3)"
                             : "Sybase ASE -> MySQL (PushButton4)",
                    tableMegabytes, Seconds(std::chrono::steady_clock::now() - start));
        const RunFigures f = RunTransfer(toward, mysql, ase, table, rows, watch);
        const double goal = 1.5 * tableMegabytes + 30;
        std::printf("  %ld rows in %.0f s: %.0f rows/s, client CPU %.1f us/row, longest stall "
                    "%.1f ms\n",
                    rows, f.seconds, rows / f.seconds, f.cpuSeconds * 1e6 / rows, f.stallMs);
        std::printf("  peak RSS growth %.1f MB for %.1f MB of table (%.2f x); goal 1.5 x table "
                    "+ 30 MB = %.1f MB: %s\n",
                    f.peakMegabytes, tableMegabytes, f.peakMegabytes / tableMegabytes, goal,
                    f.peakMegabytes <= goal ? "met" : "MISSED");
        DropIfThere(from, toSybase, table);
        DropIfThere(toSybase ? ase : mysql, !toSybase, table);
    }
}

// ---- Through the relay ---------------------------------------------------------------------

// At 10 ms a row, about 20 s per direction and side; enough rows that opening the connections and
// reading the source through the relay, which the bare loop does not do, weigh little.
constexpr long kRelayRows = 2000;
constexpr double kStallGoalMs = 50;
constexpr double kRatioGoal = 0.95;

ServerEnv Relayed(ServerEnv s, const LatencyRelay& relay) {
    s.host = "127.0.0.1";
    s.port = std::to_string(relay.Port());
    return s;
}

long RowCount(const ServerEnv& s, bool mysql, const std::string& table) {
    Connection c;
    c.Open(mysql ? MySQLConnectionString(s) : SybaseConnectionString(s));
    auto count = c.Execute("SELECT COUNT(*) FROM " +
                           (mysql ? QuoteMySQLIdentifier(table) : QuoteSybaseIdentifier(table)));
    return std::stol(count->Value(0).ToText());
}

// The round trip of one bare statement through the relay, median of 11.
double RelayRoundTripMs(const ServerEnv& mysql) {
    MYSQL* c = OpenBareMySQL(mysql);
    std::vector<double> trips;
    for (int i = 0; i < 11; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (mysql_real_query(c, "DO 1", 4) != 0)
            Fail(std::string("bare libmariadb: ") + mysql_error(c));
        trips.push_back(Seconds(std::chrono::steady_clock::now() - start));
    }
    mysql_close(c);
    return Median(trips) * 1e3;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

// Both directions through a relay in front of each server; the source tables are written and
// the copies checked directly, the transfer and the bare loop go through the relays.
void RunThroughRelay(const ServerEnv& mysql, const ServerEnv& ase, long n, const std::string& tag) {
    const long rows = std::min(n, kRelayRows);
    const LatencyRelay mysqlRelay(std::stoi(mysql.port));
    const LatencyRelay aseRelay(std::stoi(ase.port));
    const ServerEnv relayedMySQL = Relayed(mysql, mysqlRelay);
    const ServerEnv relayedAse = Relayed(ase, aseRelay);
    std::printf("\nThrough a relay in front of each server that holds every chunk 5 ms each way "
                "(one statement's round trip: %.1f ms); tables of min(N, %ld) = %ld rows; the "
                "target list shows the table, so the run answers \"Overwrite?\" Yes and drops "
                "it first\n",
                RelayRoundTripMs(relayedMySQL), kRelayRows, rows);
    for (const ServerKind toward : {ServerKind::SybaseASE, ServerKind::MySQL}) {
        const bool toSybase = toward == ServerKind::SybaseASE;
        const ServerEnv& from = toSybase ? mysql : ase;
        const ServerEnv& to = toSybase ? ase : mysql;
        const std::string table = "vt_relay_" + std::string(toSybase ? "my" : "ase") + "_" + tag;
        const std::string copy = table + "_bare";
        DropIfThere(from, toSybase, table);
        {
            Connection c;
            c.Open(toSybase ? MySQLConnectionString(from) : SybaseConnectionString(from));
            CreateSourceTable(c, toSybase, table, rows);
        }
        BareLoop bare = PrepareBare(toward, mysql, ase, table, copy);
        bare.target = toSybase ? relayedAse : relayedMySQL;
        const std::size_t half = bare.statements.size() / 2;
        bare.Send(0, half);
        StallWatch watch(1, true);
        const RunFigures f =
            RunTransfer(toward, relayedMySQL, relayedAse, table, rows, watch, true);
        bare.Send(half, bare.statements.size());
        const long copied = RowCount(to, !toSybase, table);
        if (copied != rows)
            Fail("the copy through the relay holds " + std::to_string(copied) + " of " +
                 std::to_string(rows) + " rows");
        const double ratio = bare.seconds / f.seconds;
        std::printf("  %s: longest stall of the whole run %.1f ms (goal <= %.0f ms: %s); "
                    "%.0f rows/s, bare %s loop through the relay %.0f rows/s, transfer / bare = "
                    "%.3f (goal >= %.2f: %s)\n",
                    toSybase ? "MySQL -> Sybase ASE (PushButton3)"
                             : "Sybase ASE -> MySQL (PushButton4)",
                    f.stallMs, kStallGoalMs, Verdict(f.stallMs <= kStallGoalMs), rows / f.seconds,
                    toSybase ? "DB-Library" : "libmariadb", rows / bare.seconds, ratio, kRatioGoal,
                    Verdict(ratio >= kRatioGoal));
        DropIfThere(to, !toSybase, copy);
        DropIfThere(from, toSybase, table);
        DropIfThere(to, !toSybase, table);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As in the program: every wait for a server gives the event loop its turn.
    YieldWhileServersWait();
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures as they come, also into a file
    const bool large = argc > 1 && std::string(argv[1]) == "--large";
    const int countArgument = large ? 2 : 1;
    const long n =
        argc > countArgument ? std::atol(argv[countArgument]) : (large ? 1000000 : 20000);
    const ServerEnv mysql = ServerEnv::MySQL();
    const ServerEnv ase = ServerEnv::Sybase();
    if (!mysql.Configured() || !ase.Configured() || n <= 0)
        Fail("set VELTRANE_TEST_MYSQL_* and VELTRANE_TEST_ASE_* (scripts/bench-transfer does) "
             "and pass a positive N");
    const std::string tag = std::to_string(getpid());
    if (large) {
        try {
            RunLarge(mysql, ase, n, tag);
        } catch (const DatabaseError& e) {
            Fail(std::string(e.what()) + " in " + e.Statement().substr(0, 200));
        }
        return 0;
    }
    std::printf("N = %ld rows; tables of N and 10 x N rows, 10 columns (int, bigint, decimal, "
                "double, datetime(6), short text, 600-character text, two with NULLs, "
                "smallint)\n",
                n);
    StallWatch watch;
    try {
        for (const ServerKind toward : {ServerKind::SybaseASE, ServerKind::MySQL}) {
            const bool toSybase = toward == ServerKind::SybaseASE;
            const ServerEnv& from = toSybase ? mysql : ase;
            std::printf("\n%s\n", toSybase ? "MySQL -> Sybase ASE (PushButton3)"
                                           : "Sybase ASE -> MySQL (PushButton4)");
            std::vector<RunFigures> runs;
            for (const long rows : {n, 10 * n}) {
                const std::string table = "vt_bench_" + std::string(toSybase ? "my" : "ase") + "_" +
                                          std::to_string(rows) + "_" + tag;
                const std::string copy = table + "_bare";
                DropIfThere(from, toSybase, table);
                {
                    Connection c;
                    c.Open(toSybase ? MySQLConnectionString(from) : SybaseConnectionString(from));
                    CreateSourceTable(c, toSybase, table, rows);
                }
                // The bare loop sends the first half of the statements before the transfer
                // and the second half after it, so that a server that slows down as its table
                // grows, or a machine that gets busier, favours neither side.
                BareLoop bare = PrepareBare(toward, mysql, ase, table, copy);
                const std::size_t half = bare.statements.size() / 2;
                bare.Send(0, half);
                runs.push_back(RunTransfer(toward, mysql, ase, table, rows, watch));
                bare.Send(half, bare.statements.size());
                DropIfThere(bare.target, !toSybase, copy);
                const RunFigures& f = runs.back();
                std::printf("  %7ld rows: %8.0f rows/s, %.2f us/row, longest stall %.1f ms, "
                            "peak RSS growth %.1f MB for %.1f MB of table (%.2f x; %+.1f MB "
                            "against 1.5 x table + 30 MB)\n",
                            rows, rows / f.seconds, f.seconds * 1e6 / rows, f.stallMs,
                            f.peakMegabytes, bare.tableMegabytes,
                            f.peakMegabytes / bare.tableMegabytes,
                            f.peakMegabytes - (1.5 * bare.tableMegabytes + 30));
                std::printf("           bare %s loop, same statements: %8.0f rows/s; "
                            "transfer / bare = %.3f; client CPU per row %.1f us (transfer) vs "
                            "%.1f us (bare)\n",
                            toSybase ? "DB-Library" : "libmariadb", rows / bare.seconds,
                            bare.seconds / f.seconds, f.cpuSeconds * 1e6 / rows,
                            bare.cpuSeconds * 1e6 / rows);
                std::printf("           of the transfer's time, reading the source table: "
                            "%.1f us/row; transfer / (bare + that read) = %.3f\n",
                            bare.readSeconds * 1e6 / rows,
                            (bare.seconds + bare.readSeconds) / f.seconds);
                DropIfThere(from, toSybase, table);
                DropIfThere(toSybase ? ase : mysql, !toSybase, table);
            }
            const double costN = runs[0].seconds / static_cast<double>(runs[0].rows);
            const double cost10N = runs[1].seconds / static_cast<double>(runs[1].rows);
            std::printf("  cost per row at 10 x N / at N = %.3f\n", cost10N / costN);
        }
        RunThroughRelay(mysql, ase, n, tag);
    } catch (const DatabaseError& e) {
        Fail(std::string(e.what()) + " in " + e.Statement().substr(0, 200));
    }
    return 0;
}
