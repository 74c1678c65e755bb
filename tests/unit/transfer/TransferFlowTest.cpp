// "Send Table/s" runs through failures that real servers give only with much effort, with fake
// servers in place of both: where the run stops, what its one report says, and what reached the
// target. Two tables are selected, b (five rows) and a (two rows); b goes first, from the bottom
// of the list up.

#include "FakeBackend.h"
#include "app/shell/Dialogs.h"
#include "app/shell/ErrorTrap.h"
#include "catalogue/lists/TableList.h"
#include "connect/LiveProfiles.h"
#include "transfer/TransferTables.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace veltrane {
namespace {

using testing::FakeServer;
using testing::FakeServers;
using testing::ScriptedFailure;

// The main window as the driver sees it: lists, boxes and profiles, no widgets.
class FlowWindow : public TransferWindow {
public:
    FlowWindow() {
        profiles.sybase = {QStringLiteral("fake-ase"), QStringLiteral("5000"), QStringLiteral("sa"),
                           QString(), QStringLiteral("db")};
        profiles.mysql = {QStringLiteral("fake-mysql"), QStringLiteral("3306"),
                          QStringLiteral("root"), QString(), QStringLiteral("db")};
    }
    MemoryTableList list1; // MySQL
    MemoryTableList list2; // Sybase ASE
    ScriptedDialogs dialogs;
    FixedProfiles profiles;

    TableList& MySQLTables() override { return list1; }
    TableList& SybaseTables() override { return list2; }
    void SetProgress(double) override {}
    void SetBusyPointer(bool) override {}
    void Yield() override {}
    Dialogs& MessageBoxes() override { return dialogs; }
    const LiveProfiles& Profiles() const override { return profiles; }
};

// A table of `rows` rows (i, "row i") on the fake server.
void AddTable(FakeServer& server, const std::string& name, int rows) {
    std::vector<std::vector<DbValue>> values;
    for (int i = 1; i <= rows; ++i)
        values.push_back({DbValue::Int(i), DbValue::Text("row " + std::to_string(i))});
    server.AddTable(name, {{"id", AdoType::Integer, 10, 0, 4}, {"t", AdoType::VarChar, 0, 0, 50}},
                    std::move(values));
}

// The server's statements in short: "INSERT b" for an INSERT into table b.
std::vector<std::string> Trace(const FakeServer& server) {
    const std::pair<std::string, std::string> verbs[] = {{"SELECT * FROM ", "SELECT"},
                                                         {"CREATE TABLE ", "CREATE"},
                                                         {"INSERT INTO ", "INSERT"},
                                                         {"DROP TABLE ", "DROP"}};
    std::vector<std::string> out;
    for (const std::string& statement : server.Statements()) {
        std::string shown = "other: " + statement;
        for (const auto& [verb, word] : verbs) {
            for (const char* table : {"a", "b"}) {
                if (statement.starts_with(verb + server.Quoted(table)))
                    shown = word + " " + table;
            }
        }
        out.push_back(shown);
    }
    return out;
}

std::vector<std::string> Repeated(int times, const std::string& item) {
    return std::vector<std::string>(static_cast<std::size_t>(times), item);
}
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct FlowCase {
    const char* name;
    // The target fails the nth statement of table b that begins with `verb`.
    const char* verb;
    int nth;
    FailureReason reason;
    int mysqlNumber, sybaseNumber; // the target server's own number for that failure
    const char* message;
    // What follows: the report's step (sending to Sybase ASE, to MySQL) and what it says after
    // the server's message, the target's and the source's statements, and the target list.
    unsigned toSybaseLine, toMySQLLine;
    const char* said;
    std::vector<std::string> target;
    std::vector<std::string> source;
    QStringList targetList;
};

void PrintTo(const FlowCase& c, std::ostream* os) {
    *os << c.name;
}

const char* const kInsert = "INSERT INTO ";
const char* const kCreate = "CREATE TABLE ";
constexpr unsigned kInsertToSybase = 244, kInsertToMySQL = 260;
constexpr unsigned kCreateToSybase = 200, kCreateToMySQL = 218;

const FlowCase kFlowCases[] = {
    {"TargetFullEndsThatTableOnly",
     kInsert,
     4,
     FailureReason::TargetFull,
     1114,
     1105,
     "The table is full.",
     kInsertToSybase,
     kInsertToMySQL,
     "\nThe copy of table b is incomplete: 3 of its 5 rows were written.",
     std::vector<std::string>{"CREATE b"} + Repeated(4, "INSERT b") +
         std::vector<std::string>{"CREATE a"} + Repeated(2, "INSERT a"),
     {"SELECT b", "SELECT a"},
     {QStringLiteral("a"), QStringLiteral("b")}},
    {"ConnectionLostInAnInsertEndsTheRun",
     kInsert,
     2,
     FailureReason::ConnectionLost,
     2013,
     20006,
     "Lost connection.",
     kInsertToSybase,
     kInsertToMySQL,
     "\nThe copy of table b is incomplete: 1 of its 5 rows were written, and the row that was "
     "being sent when the connection was lost may have been written too.",
     std::vector<std::string>{"CREATE b"} + Repeated(2, "INSERT b"),
     {"SELECT b"},
     {QStringLiteral("b")}},
    {"ReadOnlyAtCreateEndsTheRun",
     kCreate,
     1,
     FailureReason::ReadOnly,
     1290,
     3906,
     "The database takes no writes.",
     kCreateToSybase,
     kCreateToMySQL,
     "",
     {"CREATE b"},
     {"SELECT b"},
     {}},
    // The contrast: a CREATE refused for its own sake leaves that table out and goes on.
    {"RefusedCreateGoesOnWithTheNextTable",
     kCreate,
     1,
     FailureReason::Refused,
     1064,
     156,
     "The statement was refused.",
     kCreateToSybase,
     kCreateToMySQL,
     "",
     std::vector<std::string>{"CREATE b", "CREATE a"} + Repeated(2, "INSERT a"),
     {"SELECT b", "SELECT a"},
     {QStringLiteral("a")}},
};

class TransferFlow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(TransferFlow, OneReportAndTheRunGoesOnOrStopsAsTheFailureSays) {
    const FlowCase& c = GetParam();
    for (const ServerKind target : {ServerKind::SybaseASE, ServerKind::MySQL}) {
        const bool toSybase = target == ServerKind::SybaseASE;
        SCOPED_TRACE(toSybase ? "to Sybase ASE" : "to MySQL");
        FakeServers servers;
        FakeServer& source = toSybase ? servers.mysql : servers.sybase;
        FakeServer& targetServer = toSybase ? servers.sybase : servers.mysql;
        AddTable(source, "a", 2);
        AddTable(source, "b", 5);
        targetServer.FailAt(ScriptedFailure{c.verb + targetServer.Quoted("b"), c.nth, c.message,
                                            toSybase ? c.sybaseNumber : c.mysqlNumber, c.reason});
        FlowWindow window;
        MemoryTableList& sourceList = toSybase ? window.list1 : window.list2;
        sourceList.AddItem(QStringLiteral("a"));
        sourceList.AddItem(QStringLiteral("b"));
        for (int i = 0; i < sourceList.Count(); ++i)
            sourceList.SetSelected(i, true);

        std::string statement;
        ErrorTrap trap(
            LocationTag(QStringLiteral("Form2"), toSybase ? QStringLiteral("PushButton3_Click")
                                                          : QStringLiteral("PushButton4_Click")),
            window.dialogs, statement);
        TransferTables(target, window, trap, statement);

        std::string shown;
        for (const QString& text : window.dialogs.texts())
            shown += "\n---\n" + text.toStdString();
        ASSERT_EQ(window.dialogs.shown().size(), 1u) << shown;
        const ScriptedDialogs::Shown& report = window.dialogs.shown().front();
        EXPECT_EQ(report.caption, QStringLiteral("Application Error"));
        const unsigned line = toSybase ? c.toSybaseLine : c.toMySQLLine;
        // The server's message, then the report's own lines: "in <tag> at line <step>".
        EXPECT_TRUE(report.text.startsWith(QString::fromUtf8(c.message) +
                                           QString::fromUtf8(c.said) + QStringLiteral("\r\nin ")))
            << report.text.toStdString();
        EXPECT_TRUE(report.text.contains(QStringLiteral(" at line %1\r").arg(line)))
            << report.text.toStdString();
        EXPECT_EQ(Trace(targetServer), c.target);
        EXPECT_EQ(Trace(source), c.source);
        EXPECT_EQ((toSybase ? window.list2 : window.list1).Texts(), c.targetList);
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, TransferFlow, ::testing::ValuesIn(kFlowCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrane
