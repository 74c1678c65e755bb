// Filling the main window's two lists from databases of many tables: ListMySQLTables into
// List1 and ListSybaseTables into List2 of an offscreen main window, against the private
// MariaDB and the TDS test server. For databases of SMALL and LARGE tables (mixed letter case,
// so the servers' order is not the lists' order) it prints, per list:
//   - the time to fill the list (median of rounds), and the time of the bare listing (open a
//     connection, run the statement, read every row) as the baseline in the same run;
//   - the cost per entry at SMALL and at LARGE and their ratio (linear: close to 1);
//   - the longest stall of the event loop during the fills, from a 2 ms timer, counting the
//     wait before the first yield (connecting and the listing statement) as well.
// Then it clicks "Next >" of the connection window (Form1's PushButton4_Click: both connection
// tests, then both lists filled from the databases of LARGE tables) with its profiles pointing
// at a relay in front of each server that holds every chunk 5 ms each way (a round trip of
// 10 ms, a server across a network), and prints the time and the longest stall, from the same
// timer counting from the click, against its goal of 50 ms: once for the first click, which
// also creates and shows the main window, and over further rounds with it loaded.
//
// Usage: bench_catalogue_scale [LARGE, default 5000] (SMALL = LARGE / 10). Reads the servers
// from VELTRANE_TEST_MYSQL_* and VELTRANE_TEST_ASE_*; scripts/bench-catalogue starts them.

#include "BenchEventLoop.h"
#include "BenchSupport.h"
#include "LatencyRelay.h"
#include "app/shell/Dialogs.h"
#include "app/shell/Yield.h"
#include "app/startup/ProgramWindows.h"
#include "catalogue/TableCatalogue.h"
#include "catalogue/window/Form2.h"
#include "catalogue/window/Form2Controls.h"
#include "connect/Connection.h"
#include "connect/LiveProfiles.h"
#include "connect/SettingsStore.h"
#include "connect/access/DatabaseError.h"
#include "connect/access/SqlText.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace veltrane;
using namespace veltrane::bench;

constexpr int kRounds = 3;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_catalogue_scale: %s\n", what.c_str());
    std::exit(1);
}

// Table i: a permutation of the numbers and three spellings of the prefix, so that neither the
// servers' binary order nor the creation order is the order the lists keep.
std::string TableName(long i) {
    static const char* const prefixes[] = {"tab_", "Tab_", "TAB_"};
    char name[32];
    std::snprintf(name, sizeof name, "%s%06ld", prefixes[i % 3], (i * 7919) % 100003);
    return name;
}

// A database of its own on one server, dropped again at the end.
class ScaleDatabase {
public:
    ScaleDatabase(bool mysql, const ServerEnv& server)
        : mysql_(mysql)
        , home_(server.database)
        , server_(server) {
        server_.database = server.database + "_catalogue_scale";
        admin_.Open(mysql ? MySQLConnectionString(server) : SybaseConnectionString(server));
        Drop();
        admin_.Execute("CREATE DATABASE " + server_.database);
        admin_.Execute("USE " + server_.database);
    }
    ~ScaleDatabase() {
        try {
            admin_.Execute("USE " + home_);
            Drop();
        } catch (const DatabaseError& e) {
            std::fprintf(stderr, "bench_catalogue_scale: %s\n", e.what());
        }
    }
    ConnectionProfile Profile() const {
        return {QString::fromStdString(server_.host), QString::fromStdString(server_.port),
                QString::fromStdString(server_.user), QString::fromStdString(server_.password),
                QString::fromStdString(server_.database)};
    }
    // The same, through `relay`.
    ConnectionProfile Profile(const LatencyRelay& relay) const {
        ConnectionProfile profile = Profile();
        profile.Server = QStringLiteral("127.0.0.1");
        profile.Port = QString::number(relay.Port());
        return profile;
    }
    const ServerEnv& Server() const { return server_; }

    // Creates tables [count, upTo).
    void GrowTo(long upTo) {
        constexpr long kBatch = 100; // ASE takes a batch of statements; MySQL one at a time
        while (count_ < upTo) {
            std::string batch;
            for (long end = std::min(upTo, count_ + kBatch); count_ < end; ++count_) {
                if (mysql_) {
                    admin_.Execute("CREATE TABLE " + QuoteMySQLIdentifier(TableName(count_)) +
                                   " (id INT) ENGINE=MEMORY");
                } else {
                    batch +=
                        "create table " + QuoteSybaseIdentifier(TableName(count_)) + " (id int)\n";
                }
            }
            if (!batch.empty())
                admin_.Execute(batch);
        }
    }

private:
    void Drop() {
        try {
            admin_.Execute("DROP DATABASE " + server_.database);
        } catch (const DatabaseError&) {
            // not there
        }
    }

    bool mysql_;
    std::string home_;
    ServerEnv server_;
    Connection admin_;
    long count_ = 0;
};

// The listing without a list: connect, run the statement, read every row.
long BareListing(bool mysql, const ServerEnv& server) {
    Connection c;
    if (mysql)
        c.SetCursorLocation(CursorLocation::Client);
    c.Open(mysql ? MySQLConnectionString(server) : SybaseConnectionString(server));
    std::unique_ptr<ResultSet> rows =
        mysql ? c.Execute("SHOW TABLES;") : c.OpenSchema(SchemaKind::Tables);
    long count = 0;
    for (; !rows->IsEOF(); rows->MoveNext())
        count += rows->Value(0).IsNull() ? 0 : 1;
    return count;
}

struct Figures {
    long tables = 0;
    double fillSeconds = 0;
    double bareSeconds = 0;
    double stallMs = 0;
};

Figures Measure(bool mysql, const ScaleDatabase& db, Form2& form, long tables) {
    TableListBox& list = mysql ? form.List1() : form.List2();
    StallWatch watch(2, true);
    std::vector<double> fills, bares;
    Figures f;
    f.tables = tables;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        BareListing(mysql, db.Server());
        bares.push_back(Seconds(std::chrono::steady_clock::now() - start));

        QCoreApplication::processEvents();
        watch.Start();
        start = std::chrono::steady_clock::now();
        if (mysql)
            ListMySQLTables(list, db.Profile());
        else
            ListSybaseTables(list, db.Profile());
        fills.push_back(Seconds(std::chrono::steady_clock::now() - start));
        f.stallMs = std::max(f.stallMs, watch.Stop());
        if (list.Count() != tables)
            Fail("the list shows " + std::to_string(list.Count()) + " entries for " +
                 std::to_string(tables) + " tables");
    }
    f.fillSeconds = Median(fills);
    f.bareSeconds = Median(bares);
    for (int i = 1; i < list.Count(); ++i)
        if (list.Text(i - 1).compare(list.Text(i), Qt::CaseInsensitive) > 0)
            Fail("the list is out of order at entry " + std::to_string(i));
    return f;
}

void Print(const Figures& f) {
    std::printf("  %5ld tables: fill %8.1f ms (%6.1f us/entry), bare listing %7.1f ms, "
                "fill / bare = %5.2f, longest stall %5.1f ms\n",
                f.tables, f.fillSeconds * 1e3, f.fillSeconds * 1e6 / f.tables, f.bareSeconds * 1e3,
                f.fillSeconds / f.bareSeconds, f.stallMs);
}

// ---- "Next >" through the relay -------------------------------------------------------------

constexpr double kStallGoalMs = 50;

struct NextFigures {
    double seconds = 0;
    double stallMs = 0;
};

// The connection window of the program with the profiles of the two scale databases, each
// through its relay, typed into its fields, as the user would before clicking "Next >".
class ConnectionWindowThroughRelays {
public:
    ConnectionWindowThroughRelays(const ScaleDatabase& mysql, const ScaleDatabase& ase)
        : mysqlRelay_(std::stoi(mysql.Server().port))
        , aseRelay_(std::stoi(ase.Server().port))
        , settings_(folder_.path())
        , windows_(dialogs_, settings_, folder_.path()) {
        const ConnectionProfile s = ase.Profile(aseRelay_);
        const ConnectionProfile m = mysql.Profile(mysqlRelay_);
        // Text1 to Text10: Sybase ASE server, port, user, password, database; MySQL server,
        // user, password, database, port.
        const std::array<QString, 10> fields = {s.Server,   s.Port,   s.User, s.Password,
                                                s.Database, m.Server, m.User, m.Password,
                                                m.Database, m.Port};
        for (std::size_t i = 0; i < fields.size(); ++i)
            Form().findChild<QLineEdit*>(QStringLiteral("Text%1").arg(i + 1))->setText(fields[i]);
    }

    // One click, from the connection window shown.
    NextFigures ClickNext(long tables) {
        Form().show();
        QCoreApplication::processEvents();
        StallWatch watch(2, true);
        watch.Start();
        const auto start = std::chrono::steady_clock::now();
        Form().findChild<QPushButton*>(QStringLiteral("PushButton4"))->click();
        NextFigures f;
        f.seconds = Seconds(std::chrono::steady_clock::now() - start);
        f.stallMs = watch.Stop();
        if (!dialogs_.shown().empty())
            Fail("Next > showed: " + dialogs_.shown()[0].text.left(400).toStdString());
        if (windows_.MainWindowIfLoaded() == nullptr ||
            windows_.MySQLTableList().Count() != tables ||
            windows_.SybaseTableList().Count() != tables)
            Fail("Next > did not list " + std::to_string(tables) + " tables on each server");
        return f;
    }

private:
    Form1& Form() { return windows_.ConnectionWindow(); }

    LatencyRelay mysqlRelay_;
    LatencyRelay aseRelay_;
    QTemporaryDir folder_;
    SettingsStore settings_;
    ScriptedDialogs dialogs_;
    ProgramWindows windows_;
};

void PrintNext(const char* what, const NextFigures& f) {
    std::printf("  %s: %.1f ms, longest stall %.1f ms (goal <= %.0f ms: %s)\n", what,
                f.seconds * 1e3, f.stallMs, kStallGoalMs,
                f.stallMs <= kStallGoalMs ? "met" : "MISSED");
}

void MeasureNext(const ScaleDatabase& mysql, const ScaleDatabase& ase, long tables) {
    std::printf("\n\"Next >\" (Form1's PushButton4_Click: both connection tests, then both lists "
                "of %ld tables) through a relay in front of each server that holds every chunk "
                "5 ms each way\n",
                tables);
    ConnectionWindowThroughRelays window(mysql, ase);
    PrintNext("first click, which also creates and shows the main window",
              window.ClickNext(tables));
    std::vector<double> times;
    NextFigures loaded;
    for (int round = 0; round < kRounds; ++round) {
        const NextFigures f = window.ClickNext(tables);
        times.push_back(f.seconds);
        loaded.stallMs = std::max(loaded.stallMs, f.stallMs);
    }
    loaded.seconds = Median(times);
    const std::string what = "with the main window loaded, median time and longest stall of " +
                             std::to_string(kRounds) + " clicks";
    PrintNext(what.c_str(), loaded);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As in the program: every wait for a server gives the event loop its turn.
    YieldWhileServersWait();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const long large = argc > 1 ? std::atol(argv[1]) : 5000;
    const long small = large / 10;
    const ServerEnv mysql = ServerEnv::MySQL();
    const ServerEnv ase = ServerEnv::Sybase();
    if (!mysql.Configured() || !ase.Configured() || small <= 0)
        Fail("set VELTRANE_TEST_MYSQL_* and VELTRANE_TEST_ASE_* (scripts/bench-catalogue "
             "does) and pass LARGE >= 10");
    std::printf("Filling the main window's lists: %ld and %ld tables, median of %d fills; "
                "stalls from a 2 ms timer\n",
                small, large, kRounds);
    ScriptedDialogs dialogs;
    FixedProfiles profiles;
    Form2 form(dialogs, profiles);
    form.show();
    try {
        // Both databases stay until the end, for "Next >".
        std::unique_ptr<ScaleDatabase> databases[2];
        for (const bool isMySQL : {true, false}) {
            std::printf("\n%s\n", isMySQL ? "MySQL: ListMySQLTables into List1"
                                          : "Sybase ASE: ListSybaseTables into List2");
            databases[isMySQL ? 0 : 1] =
                std::make_unique<ScaleDatabase>(isMySQL, isMySQL ? mysql : ase);
            ScaleDatabase& db = *databases[isMySQL ? 0 : 1];
            const auto start = std::chrono::steady_clock::now();
            db.GrowTo(small);
            const Figures atSmall = Measure(isMySQL, db, form, small);
            Print(atSmall);
            db.GrowTo(large);
            std::printf("  (created %ld tables in %.1f s)\n", large,
                        Seconds(std::chrono::steady_clock::now() - start));
            const Figures atLarge = Measure(isMySQL, db, form, large);
            Print(atLarge);
            std::printf("  cost per entry at %ld / at %ld tables = %.2f\n", large, small,
                        (atLarge.fillSeconds / large) / (atSmall.fillSeconds / small));
        }
        MeasureNext(*databases[0], *databases[1], large);
    } catch (const DatabaseError& e) {
        Fail(std::string(e.what()) + " in " + e.Statement().substr(0, 200));
    }
    if (!dialogs.shown().empty())
        Fail("a message box showed: " + dialogs.shown()[0].text.left(400).toStdString());
    return 0;
}
