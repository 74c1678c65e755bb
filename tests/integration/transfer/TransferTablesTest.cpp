// The "Send Table/s" runs against the test servers, with lists and dialogs that need no window:
// what arrives, what is asked, what the lists show afterwards, and what is reported when a step
// fails. Each test case runs in its own process, so table names carry the process id.

#include "transfer/TransferTables.h"

#include "ConnectionChecks.h"
#include "ServerProcess.h"
#include "TransferTestTables.h"
#include "TransferTestWindow.h"
#include "app/shell/ApplicationTitle.h"
#include "catalogue/TableCatalogue.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace veltrane::testing {
namespace {

struct Direction {
    ServerKind toward;
    Server source;
    Server target;
    const char* name;
};

void PrintTo(const Direction& d, std::ostream* os) {
    *os << d.name;
}

const Direction kToSybase{ServerKind::SybaseASE, Server::MySQL, Server::Sybase, "ToSybase"};
const Direction kToMySQL{ServerKind::MySQL, Server::Sybase, Server::MySQL, "ToMySQL"};

class TransferTablesTest : public TransferServersTest<Direction> {
protected:
    const Direction& D() const { return GetParam(); }
    MemoryTableList& SourceList() {
        return D().source == Server::MySQL ? window_.list1 : window_.list2;
    }
    MemoryTableList& TargetList() {
        return D().target == Server::MySQL ? window_.list1 : window_.list2;
    }
    Session Open(Server s) { return Session::Open(s, At(s)); }

    // A table `name` on `server` with an int column and a text column, rows (i, text + i).
    std::string MakeTable(Server server, const std::string& what, int rows,
                          const std::string& text = "row") {
        const std::string name = TableName(what);
        drops_.push_back(std::make_unique<DropAtExit>(server, At(server), name));
        Session s = Open(server);
        std::vector<std::string> ids, texts;
        for (int i = 1; i <= rows; ++i) {
            ids.push_back(std::to_string(i));
            texts.push_back(Literal(text + std::to_string(i)));
        }
        CreateSource(s, name,
                     {{server == Server::MySQL ? "id INT" : "id int", ids},
                      {server == Server::MySQL ? "t TEXT" : "t varchar(50) null", texts}},
                     rows);
        return name;
    }
    // Drops `name` on `server` now and when the test ends.
    void DropLater(Server server, const std::string& name) {
        drops_.push_back(std::make_unique<DropAtExit>(server, At(server), name));
    }

    // The values of the table's text column in id order, or "absent" when there is no table.
    std::vector<std::string> Texts(Server server, const std::string& name) {
        Session s = Open(server);
        try {
            s.connection->Execute("SELECT COUNT(*) FROM " + Quote(server, name));
        } catch (const DatabaseError&) {
            return {"absent"};
        }
        std::vector<std::string> out;
        for (const auto& row : ReadAll(s, name, "id"))
            out.push_back(row[1].IsNull() ? "NULL" : row[1].ToText());
        return out;
    }

    void Run() { RunTransfer(D().toward, window_); }

    std::vector<std::unique_ptr<DropAtExit>> drops_;
};

// The hostile-value table of each server arrives with every value equal (ASE's '' as one blank),
// with one row of progress each and the name added to the target list.
TEST_P(TransferTablesTest, EveryHostileValueArrives) {
    const std::string name = TableName(std::string("hostile_") + D().name);
    DropLater(D().source, name);
    DropLater(D().target, name);
    Session source = Open(D().source);
    CreateSource(source, name, SourceColumns(D().source, D().target), 4);
    Fill(SourceList(), {{name, true}});

    Run();

    EXPECT_TRUE(window_.ErrorReports().empty()) << Printed(window_.ErrorReports());
    EXPECT_TRUE(window_.dialogs.shown().empty());
    EXPECT_EQ(window_.progress, (std::vector<double>{25, 50, 75, 100, 0}));
    EXPECT_EQ(window_.busy, (std::vector<bool>{true, false}));
    // The list shows the table as created, in its own letters, on either server.
    EXPECT_EQ(TargetList().Texts(), QStringList{Q(name)});
    std::vector<FieldInfo> fields;
    auto rows = source.Run("SELECT * FROM " + Quote(D().source, name));
    for (int i = 0; i < rows->FieldCount(); ++i)
        fields.push_back(rows->Field(i));
    rows.reset();
    Session target = Open(D().target);
    ExpectSameRows(ReadAll(target, name, "id"), ReadAll(source, name, "id"), fields, D().target);
}

// Selected entries are copied from the bottom of the list up; the unselected one is not. The
// question comes whenever the target list shows the name in any letter case; on Yes the entry
// that equals the name is replaced, and an entry in other letters stays beside the new one.
TEST_P(TransferTablesTest, SelectedTablesBottomUpWithQuestionsAndListCaseRules) {
    const std::string a = MakeTable(D().source, "multi_a", 1, "a");
    const std::string b = MakeTable(D().source, "multi_b", 1, "b");
    const std::string c = MakeTable(D().source, "multi_c", 2, "c");
    MakeTable(D().target, "multi_a", 1, "old a");
    MakeTable(D().target, "multi_c", 3, "old c");
    DropLater(D().target, b);
    Fill(SourceList(), {{a, true}, {b, false}, {c, true}});
    const QString upperC = Q(c).toUpper();
    Fill(TargetList(), {{a, false}, {upperC.toStdString(), false}});

    Run();

    EXPECT_TRUE(window_.ErrorReports().empty()) << Printed(window_.ErrorReports());
    EXPECT_EQ(window_.Questions(),
              (std::vector<QString>{QStringLiteral("Would you like to overwrite ") + Q(c) + "?",
                                    QStringLiteral("Would you like to overwrite ") + Q(a) + "?"}));
    for (const auto& shown : window_.dialogs.shown()) {
        EXPECT_EQ(shown.buttons, MessageButtons::YesNo);
        EXPECT_EQ(shown.defaultAnswer, MessageAnswer::Yes);
        EXPECT_EQ(shown.icon, MessageIcon::None);
    }
    // c (two rows) before a (one row).
    EXPECT_EQ(window_.progress, (std::vector<double>{50, 100, 0, 100, 0}));
    EXPECT_EQ(Texts(D().target, c), (std::vector<std::string>{"c1", "c2"}));
    EXPECT_EQ(Texts(D().target, a), (std::vector<std::string>{"a1"}));
    EXPECT_EQ(Texts(D().target, b), (std::vector<std::string>{"absent"}));
    EXPECT_EQ(TargetList().Texts(), (QStringList{Q(a), upperC, Q(c)}));
    EXPECT_EQ(SourceList().SelectedCount(), 2);
}

TEST_P(TransferTablesTest, AnswerNoLeavesBothSidesUntouched) {
    const std::string name = MakeTable(D().source, "keep", 2, "new");
    MakeTable(D().target, "keep", 1, "old");
    Fill(SourceList(), {{name, true}});
    Fill(TargetList(), {{name, false}});
    window_.dialogs.QueueAnswer(MessageAnswer::No);

    Run();

    EXPECT_EQ(window_.Questions().size(), 1u);
    EXPECT_TRUE(window_.ErrorReports().empty()) << Printed(window_.ErrorReports());
    EXPECT_EQ(Texts(D().target, name), (std::vector<std::string>{"old1"}));
    EXPECT_EQ(Texts(D().source, name), (std::vector<std::string>{"new1", "new2"}));
    EXPECT_EQ(TargetList().Texts(), QStringList{Q(name)});
    EXPECT_TRUE(window_.progress.empty());
    EXPECT_EQ(window_.busy, (std::vector<bool>{true, false}));
}

// The bar shows the share of rows written as a real number, and 0 after each table; an empty
// table is created without moving it.
TEST_P(TransferTablesTest, ProgressPerRowAndEmptyTable) {
    const std::string empty = MakeTable(D().source, "p0", 0);
    const std::string three = MakeTable(D().source, "p3", 3);
    DropLater(D().target, empty);
    DropLater(D().target, three);
    Fill(SourceList(), {{empty, true}, {three, true}});

    Run();

    EXPECT_TRUE(window_.ErrorReports().empty()) << Printed(window_.ErrorReports());
    const std::vector<double> want = {100.0 / 3, 200.0 / 3, 100, 0, 0};
    ASSERT_EQ(window_.progress.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_DOUBLE_EQ(window_.progress[i], want[i]) << i;
    EXPECT_EQ(Texts(D().target, empty), std::vector<std::string>{});
    EXPECT_EQ(Texts(D().target, three).size(), 3u);
}

// A table the target holds although its list does not show it: no question, the CREATE fails
// and is reported with its statement, and the existing table gets no rows; the list now shows it.
TEST_P(TransferTablesTest, FailingCreateIsReportedAndTableNotFilled) {
    const std::string name = MakeTable(D().source, "exists", 2, "new");
    MakeTable(D().target, "exists", 1, "old");
    Fill(SourceList(), {{name, true}});

    Run();

    const auto reports = window_.ErrorReports();
    ASSERT_EQ(reports.size(), 1u) << Printed(reports);
    const QString tag = D().toward == ServerKind::SybaseASE
                            ? QStringLiteral("Form2.PushButton3_Click at line 200")
                            : QStringLiteral("Form2.PushButton4_Click at line 218");
    EXPECT_TRUE(reports[0].contains(tag)) << reports[0].toStdString();
    EXPECT_TRUE(reports[0].contains(QStringLiteral("\r\rsql: CREATE TABLE ")))
        << reports[0].toStdString();
    EXPECT_TRUE(window_.Questions().empty());
    EXPECT_EQ(Texts(D().target, name), (std::vector<std::string>{"old1"}));
    EXPECT_EQ(TargetList().Texts(), QStringList{Q(name)});
}

// A listed table the source does not have: reported at its SELECT, and the next table is copied.
TEST_P(TransferTablesTest, FailingSelectIsReportedAndNextTableCopied) {
    const std::string real = MakeTable(D().source, "a_real", 2);
    const std::string ghost = TableName("z_ghost");
    DropLater(D().target, real);
    DropLater(D().target, ghost);
    Fill(SourceList(), {{real, true}, {ghost, true}});

    Run();

    const auto reports = window_.ErrorReports();
    ASSERT_EQ(reports.size(), 1u) << Printed(reports);
    EXPECT_TRUE(reports[0].contains(QStringLiteral(" at line 148\r\r")))
        << reports[0].toStdString();
    EXPECT_EQ(Texts(D().target, real).size(), 2u);
    EXPECT_EQ(Texts(D().target, ghost), (std::vector<std::string>{"absent"}));
    EXPECT_EQ(TargetList().Texts(), QStringList{Q(real)});
}

// Neither server answers: each connection is reported once, nothing else is tried, and the
// pointer comes back.
TEST_P(TransferTablesTest, ConnectionsThatDoNotOpenAreReportedOnceEach) {
    window_.profiles.mysql.Port = QStringLiteral("1");
    window_.profiles.sybase.Port = QStringLiteral("1");
    Fill(SourceList(), {{"vt_one", true}, {"vt_two", true}});

    Run();

    const auto reports = window_.ErrorReports();
    ASSERT_EQ(reports.size(), 2u) << Printed(reports);
    const bool toSybase = D().toward == ServerKind::SybaseASE;
    EXPECT_TRUE(reports[0].contains(toSybase ? QStringLiteral(" at line 116\r\r")
                                             : QStringLiteral(" at line 118\r\r")));
    EXPECT_TRUE(reports[1].contains(toSybase ? QStringLiteral(" at line 124\r\r")
                                             : QStringLiteral(" at line 126\r\r")));
    EXPECT_TRUE(reports[0].endsWith(QStringLiteral("\r\rsql: ")));
    EXPECT_EQ(window_.busy, (std::vector<bool>{true, false}));
    EXPECT_TRUE(window_.progress.empty());
}

// Without a current entry or a selected one the run only says so: no pointer change, no
// connection (the profiles lead nowhere, and nothing is reported). With one but nothing
// selected, both connections open and close and nothing is shown. A selected entry with none
// current (Select All after "Next >") is copied.
TEST_P(TransferTablesTest, NoCurrentEntryAndNothingSelected) {
    RecordingWindow noCurrent;
    noCurrent.profiles.mysql.Port = QStringLiteral("1");
    noCurrent.profiles.sybase.Port = QStringLiteral("1");
    (D().source == Server::MySQL ? noCurrent.list1 : noCurrent.list2).AddItem(QStringLiteral("t"));
    RunTransfer(D().toward, noCurrent);
    ASSERT_EQ(noCurrent.dialogs.shown().size(), 1u);
    EXPECT_EQ(noCurrent.dialogs.shown()[0].text,
              D().toward == ServerKind::SybaseASE
                  ? QStringLiteral("Please select a table")
                  : QStringLiteral("Please select a table to send."));
    EXPECT_EQ(noCurrent.dialogs.shown()[0].caption, ApplicationTitle());
    EXPECT_TRUE(noCurrent.busy.empty());

    const std::string name = MakeTable(D().source, "unselected", 1);
    DropLater(D().target, name);
    Fill(SourceList(), {{name, false}});
    Run();
    EXPECT_TRUE(window_.dialogs.shown().empty()) << Printed(window_.dialogs.texts());
    EXPECT_EQ(window_.busy, (std::vector<bool>{true, false}));
    EXPECT_EQ(Texts(D().target, name), (std::vector<std::string>{"absent"}));

    SourceList().SetSelected(0, true);
    SourceList().SetCurrentIndex(-1);
    Run();
    EXPECT_TRUE(window_.dialogs.shown().empty()) << Printed(window_.dialogs.texts());
    EXPECT_EQ(Texts(D().target, name), (std::vector<std::string>{"row1"}));
}

// The source table is read whole before its first row is written; the source connection calls
// back while the rows arrive (the window yields there), and the rows still all arrive.
TEST_P(TransferTablesTest, SourceReadCallsBackWhileRowsArrive) {
    const std::string name = TableName("read_back");
    DropLater(D().source, name);
    Session setup = Open(D().source);
    const bool mysql = D().source == Server::MySQL;
    setup.Run(std::string(mysql ? "CREATE TABLE " : "create table ") + Quote(D().source, name) +
              (mysql ? " (id INT, t TEXT)" : " (id int, t text)"));
    const std::string filler(2000, 'x');
    std::string batch;
    for (int i = 1; i <= 4000; ++i) {
        const std::string values = "(" + std::to_string(i) + ", '" + filler + "')";
        batch += mysql ? (batch.empty() ? "INSERT INTO " + Quote(D().source, name) + " VALUES "
                                        : std::string(", ")) +
                             values
                       : "insert into " + Quote(D().source, name) + " values " + values + "\n";
        if (i % 200 == 0) {
            setup.Run(batch);
            batch.clear();
        }
    }

    int callbacks = 0;
    Connection source;
    source.SetCursorLocation(CursorLocation::Client);
    source.SetRowReadCallback([&] { ++callbacks; });
    source.Open(mysql ? MySQLConnectionStringFor(At(D().source))
                      : SybaseConnectionStringFor(At(D().source)));
    auto rows = source.Execute("SELECT * FROM " + Quote(D().source, name));
    // Sybase ASE calls back after every row. MySQL calls back only when the client would wait
    // for the server, which an idle machine may never make it do: there only the rows count.
    if (!mysql) {
        EXPECT_GE(callbacks, 4000);
    }
    ASSERT_EQ(rows->RecordCount(), 4000);
    long long sum = 0;
    for (; !rows->IsEOF(); rows->MoveNext()) {
        sum += std::stoll(rows->Value(0).ToText());
        EXPECT_EQ(rows->Value(1).ToText().size(), filler.size());
    }
    EXPECT_EQ(sum, 4000LL * 4001 / 2);
}

INSTANTIATE_TEST_SUITE_P(Directions, TransferTablesTest, ::testing::Values(kToSybase, kToMySQL),
                         [](const auto& info) { return std::string(info.param.name); });

// A row the target refuses is reported with its own statement; the rows around it arrive.
TEST(TransferTablesToSybase, FailingInsertIsReportedWithItsStatementAndNextRowCopied) {
    VELTRANE_REQUIRE_MYSQL(mysql);
    VELTRANE_REQUIRE_SYBASE(sybase);
    const std::string name = TableName("nul_row");
    DropAtExit dropSource(Server::MySQL, mysql, name);
    DropAtExit dropTarget(Server::Sybase, sybase, name);
    Session source = Session::Open(Server::MySQL, mysql);
    CreateSource(source, name,
                 {{"id INT", {"1", "2", "3"}},
                  {"t TEXT", {Literal("a"), Literal(std::string("b\0c", 3)), Literal("d")}}},
                 3);
    RecordingWindow window;
    window.profiles.mysql = mysql.Profile();
    window.profiles.sybase = sybase.Profile();
    Fill(window.list1, {{name, true}});

    RunTransfer(ServerKind::SybaseASE, window);

    const auto reports = window.ErrorReports();
    ASSERT_EQ(reports.size(), 1u) << Printed(reports);
    EXPECT_TRUE(reports[0].contains(QStringLiteral(" at line 244\r\r")));
    EXPECT_TRUE(reports[0].endsWith(QStringLiteral("\r\rsql: INSERT INTO [") + Q(name) +
                                    QStringLiteral("] VALUES('2', 'b") + QChar(0) +
                                    QStringLiteral("c')")))
        << reports[0].toStdString();
    Session target = Session::Open(Server::Sybase, sybase);
    const auto rows = ReadAll(target, name, "id");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1].ToText(), "a");
    EXPECT_EQ(rows[1][1].ToText(), "d");
}

// A text, unitext or image value set once and then updated to NULL keeps its text pointer on
// Sybase ASE, which sends it as a pointer to no data: it arrives in MySQL as NULL, not as ''.
TEST(TransferTablesToMySQL, TextUpdatedToNullArrivesAsNull) {
    VELTRANE_REQUIRE_MYSQL(mysql);
    VELTRANE_REQUIRE_SYBASE(sybase);
    const std::string name = TableName("nulled_text");
    DropAtExit dropSource(Server::Sybase, sybase, name);
    DropAtExit dropTarget(Server::MySQL, mysql, name);
    Session source = Session::Open(Server::Sybase, sybase);
    const std::string table = Quote(Server::Sybase, name);
    source.Run("create table " + table +
               " (id int, t text null, u unitext null, i image null) "
               "insert " +
               table +
               " values (1, 'set', 'set', 0x01) "
               "insert " +
               table +
               " values (2, 'kept', 'kept', 0x02) "
               "update " +
               table + " set t = null, u = null, i = null where id = 1");
    RecordingWindow window;
    window.profiles.mysql = mysql.Profile();
    window.profiles.sybase = sybase.Profile();
    Fill(window.list2, {{name, true}});

    RunTransfer(ServerKind::MySQL, window);

    EXPECT_TRUE(window.ErrorReports().empty()) << Printed(window.ErrorReports());
    Session target = Session::Open(Server::MySQL, mysql);
    const auto rows = ReadAll(target, name, "id");
    ASSERT_EQ(rows.size(), 2u);
    for (int column = 1; column <= 3; ++column) {
        EXPECT_TRUE(rows[0][column].IsNull()) << column << ": " << rows[0][column].ToText();
        EXPECT_FALSE(rows[1][column].IsNull()) << column;
    }
    EXPECT_EQ(rows[1][1].ToText(), "kept");
}

// Logged in as a user who does not own the database, a bare name means that user's own table
// first, then dbo's. The listing marks which entry is the login's own; a copy over that name
// replaces the user's own table and entry, and dbo's table of the same name and its entry stay.
TEST(TransferTablesToSybase, AsAnotherUserTheCopyReplacesThatUsersOwnTable) {
    VELTRANE_REQUIRE_MYSQL(mysql);
    tdsserver::ServerProcess ase;
    ase.Start({{"sa", "sa-secret"}, {"bob", "bob-secret"}});
    const auto at = [&](const char* user, const char* password) {
        return ServerCoordinates{"127.0.0.1", std::to_string(ase.Port()), user, password, "master"};
    };
    const std::string name = TableName("own_dup");
    const std::string table = Quote(Server::Sybase, name);
    Session::Open(Server::Sybase, at("sa", "sa-secret"))
        .Run("create table " + table + " (who varchar(10) null) insert " + table +
             " values ('dbo')");
    Session::Open(Server::Sybase, at("bob", "bob-secret"))
        .Run("create table " + table + " (who varchar(10) null) insert " + table +
             " values ('bob')");
    DropAtExit dropSource(Server::MySQL, mysql, name);
    Session source = Session::Open(Server::MySQL, mysql);
    CreateSource(source, name, {{"who TEXT", {Literal("mysql")}}}, 1);
    RecordingWindow window;
    window.profiles.mysql = mysql.Profile();
    window.profiles.sybase = at("bob", "bob-secret").Profile();
    ListSybaseTables(window.list2, window.profiles.sybase);
    ASSERT_EQ(window.list2.Count(), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(window.list2.Owner(i).loginsOwn, window.list2.Owner(i).name == "bob") << i;
    Fill(window.list1, {{name, true}});

    RunTransfer(ServerKind::SybaseASE, window);

    EXPECT_TRUE(window.ErrorReports().empty()) << Printed(window.ErrorReports());
    EXPECT_EQ(window.Questions().size(), 1u);
    Session sa = Session::Open(Server::Sybase, at("sa", "sa-secret"));
    for (const auto& [owner, who] : {std::pair{"dbo", "dbo"}, {"bob", "mysql"}}) {
        auto rows = sa.Run("select who from " + std::string(owner) + "." + table);
        ASSERT_TRUE(rows && !rows->IsEOF()) << owner;
        EXPECT_EQ(rows->Value(0).ToText(), who) << owner;
    }
    ASSERT_EQ(window.list2.Count(), 2);
    int dbos = 0;
    for (int i = 0; i < 2; ++i)
        dbos += window.list2.Owner(i).name == "dbo" && !window.list2.Owner(i).loginsOwn ? 1 : 0;
    EXPECT_EQ(dbos, 1);
}

// The Sybase ASE server stops while a table's rows are written: one report, no box for the
// rows that follow, the run ends with the pointer back, the table copied before it is intact,
// and a later run works again.
TEST(TransferTablesToSybase, ServerStoppedMidRunGivesOneReport) {
    VELTRANE_REQUIRE_MYSQL(mysql);
    tdsserver::ServerProcess ase;
    ase.Start({{"sa", "sa-secret"}});
    const auto profileOf = [&](int port) {
        return ConnectionProfile{QStringLiteral("127.0.0.1"), QString::number(port),
                                 QStringLiteral("sa"), QStringLiteral("sa-secret"),
                                 QStringLiteral("master")};
    };
    Session source = Session::Open(Server::MySQL, mysql);
    std::vector<std::string> names;
    std::vector<std::unique_ptr<DropAtExit>> drops;
    for (const auto& [what, rows] : {std::pair{"stop_a", 2}, {"stop_b", 200}, {"stop_c", 2}}) {
        names.push_back(TableName(what));
        drops.push_back(std::make_unique<DropAtExit>(Server::MySQL, mysql, names.back()));
        std::vector<std::string> ids;
        for (int i = 1; i <= rows; ++i)
            ids.push_back(std::to_string(i));
        CreateSource(source, names.back(), {{"id INT", ids}}, rows);
    }
    RecordingWindow window;
    window.profiles.mysql = mysql.Profile();
    window.profiles.sybase = profileOf(ase.Port());
    Fill(window.list1, {{names[0], true}, {names[1], true}, {names[2], true}});
    // Bottom up: c is copied whole, then the server stops a quarter into b.
    window.onProgress = [&](double percent) {
        if (percent >= 25 && percent < 26 && window.progress.size() > 3 && ase.Running())
            ase.Stop(std::chrono::seconds(20), true);
    };

    RunTransfer(ServerKind::SybaseASE, window);

    const auto reports = window.ErrorReports();
    ASSERT_EQ(reports.size(), 1u) << Printed(reports);
    EXPECT_TRUE(reports[0].contains(QStringLiteral(" at line 244\r\r")));
    EXPECT_EQ(window.busy, (std::vector<bool>{true, false}));
    EXPECT_EQ(window.progress.back(), 0);
    EXPECT_FALSE(window.list2.Texts().contains(Q(names[0])));

    ase.Start({{"sa", "sa-secret"}});
    window.profiles.sybase = profileOf(ase.Port());
    Connection check;
    check.Open(SybaseConnectionString(profileOf(ase.Port())).toStdString());
    EXPECT_EQ(Scalar(check, "SELECT COUNT(*) FROM [" + names[2] + "]").ToText(), "2");
    check.Close();
    for (int i = 0; i < window.list1.Count(); ++i)
        window.list1.SetSelected(i, window.list1.Text(i) == Q(names[0]));
    window.dialogs.clear();
    RunTransfer(ServerKind::SybaseASE, window);
    EXPECT_TRUE(window.ErrorReports().empty()) << Printed(window.ErrorReports());
    EXPECT_TRUE(window.list2.Texts().contains(Q(names[0])));
}

} // namespace
} // namespace veltrane::testing
