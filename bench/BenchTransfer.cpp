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
// Usage: bench_transfer [N, default 20000]. Reads the servers from VELTRANE_TEST_MYSQL_* and
// VELTRANE_TEST_ASE_*; scripts/bench-transfer starts them, runs this and stops them.

#include "BenchClients.h"
#include "BenchSupport.h"
#include "app/Dialogs.h"
#include "app/Yield.h"
#include "catalogue/TableList.h"
#include "connect/Connection.h"
#include "connect/ConnectionProfile.h"
#include "connect/DatabaseError.h"
#include "connect/LiveProfiles.h"
#include "transfer/ColumnTypes.h"
#include "transfer/RowStatements.h"
#include "transfer/TransferTables.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTimer>
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

// A 1 ms timer that notes how late it fires while a run lets the event loop work.
class StallWatch {
public:
    StallWatch() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (firings_++ > 0)
                longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
    }
    void Start() {
        firings_ = 0;
        longest_ = 0;
        clock_.start();
        timer_.start();
    }
    // The longest wait beyond the timer's interval, in milliseconds.
    double Stop() {
        timer_.stop();
        return std::max<double>(0, static_cast<double>(longest_) / 1e6 - 1.0);
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    int firings_ = 0;
};

// ---- The window the handlers run in ----------------------------------------------------------

class BenchWindow : public TransferWindow {
public:
    MemoryTableList list1, list2;
    ScriptedDialogs dialogs;
    FixedProfiles profiles;
    QProgressBar bar;

    TableList& MySQLTables() override { return list1; }
    TableList& SybaseTables() override { return list2; }
    void SetProgress(double percent) override { bar.setValue(static_cast<int>(percent)); }
    void SetBusyPointer(bool) override {}
    void Yield() override { veltrane::Yield(); }
    Dialogs& MessageBoxes() override { return dialogs; }
    const LiveProfiles& Profiles() const override { return profiles; }
};

ConnectionProfile ProfileOf(const ServerEnv& s) {
    return {QString::fromStdString(s.host), QString::fromStdString(s.port),
            QString::fromStdString(s.user), QString::fromStdString(s.password),
            QString::fromStdString(s.database)};
}

// ---- Source tables ------------------------------------------------------------------------

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

void CreateSourceTable(Connection& c, bool mysql, const std::string& table, long rows) {
    const std::string quoted = mysql ? QuoteMySQLIdentifier(table) : QuoteSybaseIdentifier(table);
    c.Execute(mysql ? "CREATE TABLE " + quoted +
                          " (id INT, big BIGINT, amount DECIMAL(12,2), ratio DOUBLE, stamp "
                          "DATETIME(6), name VARCHAR(40), body TEXT, maybe INT NULL, code "
                          "VARCHAR(20) NULL, small SMALLINT)"
                    : "create table " + quoted +
                          " (id int, big bigint, amount numeric(12,2), ratio float, stamp "
                          "bigdatetime, name varchar(40), body text, maybe int null, code "
                          "varchar(20) null, small smallint)");
    const long chunk = mysql ? 500 : 200;
    for (long first = 1; first <= rows; first += chunk) {
        std::string batch = mysql ? "INSERT INTO " + quoted + " VALUES " : std::string();
        for (long i = first; i < first + chunk && i <= rows; ++i) {
            std::string values;
            for (const std::string& v : RowLiterals(i))
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
    double stallMs = 0;
    double peakMegabytes = 0;
};

RunFigures RunTransfer(TransferDirection direction, const ServerEnv& mysql, const ServerEnv& ase,
                       const std::string& table, long rows, StallWatch& watch) {
    const bool toSybase = direction == TransferDirection::ToSybase;
    DropIfThere(toSybase ? ase : mysql, !toSybase, table);
    BenchWindow window;
    window.profiles.mysql = ProfileOf(mysql);
    window.profiles.sybase = ProfileOf(ase);
    MemoryTableList& source = toSybase ? window.list1 : window.list2;
    source.AddItem(QString::fromStdString(table));
    source.SetSelected(0, true);
    source.SetCurrentIndex(0);

    QCoreApplication::processEvents();
    // Memory freed by earlier runs goes back to the system first; otherwise the run would
    // reuse it without growing and the growth would show as nothing.
    malloc_trim(0);
    ResetPeakMemory();
    const long before = StatusKilobytes("VmRSS");
    watch.Start();
    const auto start = std::chrono::steady_clock::now();
    TransferTables(direction, window);
    RunFigures f;
    f.seconds = Seconds(std::chrono::steady_clock::now() - start);
    f.stallMs = watch.Stop();
    f.peakMegabytes = static_cast<double>(StatusKilobytes("VmHWM") - before) / 1024.0;
    f.rows = rows;
    if (!window.dialogs.shown().empty())
        Fail("the transfer showed: " + window.dialogs.shown()[0].text.left(400).toStdString());
    return f;
}

struct Baseline {
    double seconds = 0;
    double tableMegabytes = 0;
};

// The INSERT statements the transfer writes for `table`, for a copy named `copy`, sent with the
// bare client; also the table's bytes (the text of every value).
Baseline RunBare(TransferDirection direction, const ServerEnv& mysql, const ServerEnv& ase,
                 const std::string& table, const std::string& copy) {
    const bool toSybase = direction == TransferDirection::ToSybase;
    const ServerEnv& from = toSybase ? mysql : ase;
    const ServerEnv& to = toSybase ? ase : mysql;
    DropIfThere(to, !toSybase, copy);
    Baseline b;
    std::vector<std::string> statements;
    {
        auto source = OpenSource(from, toSybase);
        auto rows = source->Execute("SELECT * FROM " + (toSybase ? QuoteMySQLIdentifier(table)
                                                                : QuoteSybaseIdentifier(table)));
        std::vector<FieldInfo> fields;
        for (int i = 0; i < rows->FieldCount(); ++i)
            fields.push_back(rows->Field(i));
        Connection target;
        target.Open(toSybase ? SybaseConnectionString(to) : MySQLConnectionString(to));
        target.Execute(CreateTableStatement(direction, copy, fields));
        InsertRowBuilder insert(direction, copy);
        double bytes = 0;
        for (; !rows->IsEOF(); rows->MoveNext()) {
            statements.push_back(insert.Build(*rows));
            for (int i = 0; i < rows->FieldCount(); ++i)
                bytes += static_cast<double>(rows->Value(i).ToText().size());
        }
        b.tableMegabytes = bytes / (1024.0 * 1024.0);
    }
    const auto start = std::chrono::steady_clock::now();
    if (toSybase)
        SendBareSybase(to, statements);
    else
        SendBareMySQL(to, statements);
    b.seconds = Seconds(std::chrono::steady_clock::now() - start);
    DropIfThere(to, !toSybase, copy);
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long n = argc > 1 ? std::atol(argv[1]) : 20000;
    const ServerEnv mysql = ServerEnv::MySQL();
    const ServerEnv ase = ServerEnv::Sybase();
    if (!mysql.Configured() || !ase.Configured() || n <= 0)
        Fail("set VELTRANE_TEST_MYSQL_* and VELTRANE_TEST_ASE_* (scripts/bench-transfer does) "
             "and pass a positive N");
    const std::string tag = std::to_string(getpid());
    std::printf("N = %ld rows; tables of N and 10 x N rows, 10 columns (int, bigint, decimal, "
                "double, datetime(6), short text, 600-character text, two with NULLs, "
                "smallint)\n",
                n);
    StallWatch watch;
    try {
        for (const TransferDirection direction :
             {TransferDirection::ToSybase, TransferDirection::ToMySQL}) {
            const bool toSybase = direction == TransferDirection::ToSybase;
            const ServerEnv& from = toSybase ? mysql : ase;
            std::printf("\n%s\n", toSybase ? "MySQL -> Sybase ASE (PushButton3)"
                                           : "Sybase ASE -> MySQL (PushButton4)");
            std::vector<RunFigures> runs;
            Baseline bare;
            for (const long rows : {n, 10 * n}) {
                const std::string table = "vt_bench_" + std::string(toSybase ? "my" : "ase") +
                                          "_" + std::to_string(rows) + "_" + tag;
                const std::string copy = table + "_bare";
                DropIfThere(from, toSybase, table);
                {
                    Connection c;
                    c.Open(toSybase ? MySQLConnectionString(from) : SybaseConnectionString(from));
                    CreateSourceTable(c, toSybase, table, rows);
                }
                // The bare loop runs before and after the transfer, and its mean is the
                // baseline, so that a server that slows down or speeds up over the run (or a
                // busy machine) does not favour either side.
                const Baseline bareBefore = RunBare(direction, mysql, ase, table, copy);
                runs.push_back(RunTransfer(direction, mysql, ase, table, rows, watch));
                const RunFigures& f = runs.back();
                std::printf("  %7ld rows: %8.0f rows/s, %.2f us/row, longest stall %.1f ms, "
                            "peak RSS growth %.1f MB",
                            rows, rows / f.seconds, f.seconds * 1e6 / rows, f.stallMs,
                            f.peakMegabytes);
                bare = RunBare(direction, mysql, ase, table, copy);
                bare.seconds = (bare.seconds + bareBefore.seconds) / 2;
                std::printf(" for %.1f MB of table (%.2f x + %.1f MB over 1.5 x)\n",
                            bare.tableMegabytes, f.peakMegabytes / bare.tableMegabytes,
                            f.peakMegabytes - 1.5 * bare.tableMegabytes);
                std::printf("           bare %s loop, same statements (mean of a run before and "
                            "one after): %8.0f rows/s; "
                            "transfer / bare = %.3f\n",
                            toSybase ? "DB-Library" : "libmariadb", rows / bare.seconds,
                            bare.seconds / f.seconds);
                DropIfThere(from, toSybase, table);
                DropIfThere(toSybase ? ase : mysql, !toSybase, table);
            }
            const double costN = runs[0].seconds / static_cast<double>(runs[0].rows);
            const double cost10N = runs[1].seconds / static_cast<double>(runs[1].rows);
            std::printf("  cost per row at 10 x N / at N = %.3f\n", cost10N / costN);
        }
    } catch (const DatabaseError& e) {
        Fail(std::string(e.what()) + " in " + e.Statement().substr(0, 200));
    }
    return 0;
}
