// The main window's listing, drop and rename against the MariaDB server and the TDS test server.
// Each test works in a database of its own, so tests running at the same time never meet.
#include "GuiTestApplication.h"
#include "MainWindowFixture.h"
#include "TestServers.h"
#include "app/shell/Dialogs.h"
#include "app/shell/ErrorTrap.h"
#include "app/window/PointerFeedback.h"
#include "catalogue/TableCatalogue.h"
#include "catalogue/window/Form2.h"
#include "catalogue/window/Form2Controls.h"
#include "connect/Connection.h"
#include "connect/ConnectionTests.h"
#include "connect/LiveProfiles.h"
#include "connect/access/SqlText.h"

#include <QPushButton>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace veltrane {
namespace {

[[maybe_unused]] auto* const kApp =
    ::testing::AddGlobalTestEnvironment(new test::GuiTestApplication);

using test::MainWindow;

QStringList SortedIgnoringCase(QStringList names) {
    names.sort(Qt::CaseInsensitive);
    return names;
}

QStringList Column0(ResultSet& rows) {
    QStringList names;
    for (; !rows.IsEOF(); rows.MoveNext())
        names.append(QString::fromStdString(rows.Value(0).ToText()));
    return SortedIgnoringCase(names);
}

// A database of one test's own on one server, created empty and dropped at the end, with a
// connection of its own that plays "another client".
class ScratchDatabase {
public:
    ScratchDatabase(bool mysql, const testing::ServerCoordinates& server, const std::string& suffix)
        : mysql_(mysql)
        , home_(server.database)
        , name_(server.database + "_" + suffix) {
        profile_ = server.Profile();
        profile_.Database = QString::fromStdString(name_);
        client_.Open(mysql ? testing::MySQLConnectionStringFor(server)
                           : testing::SybaseConnectionStringFor(server));
        try {
            client_.Execute("DROP DATABASE " + name_);
        } catch (const DatabaseError&) {
            // not there yet
        }
        client_.Execute("CREATE DATABASE " + name_);
        client_.Execute("USE " + name_);
    }
    ~ScratchDatabase() {
        try {
            client_.Execute("USE " + home_);
            if (!dropped_)
                DropDatabase();
        } catch (const DatabaseError& e) {
            ADD_FAILURE() << e.what();
        }
    }
    const ConnectionProfile& Profile() const { return profile_; }
    Connection& Client() { return client_; }

    void CreateTable(const QString& name) {
        client_.Execute("CREATE TABLE " + Quote(name) + " (a INT)");
    }
    void DropTable(const QString& name) { client_.Execute("DROP TABLE " + Quote(name)); }
    // The user tables on the server, sorted ignoring letter case.
    QStringList Tables() {
        return Column0(*client_.Execute(mysql_ ? "SHOW TABLES"
                                               : "SELECT name FROM sysobjects WHERE type = 'U'"));
    }
    void DropDatabase() {
        client_.Execute("DROP DATABASE " + name_);
        dropped_ = true;
    }

private:
    std::string Quote(const QString& name) const {
        return mysql_ ? QuoteMySQLIdentifier(name.toStdString())
                      : QuoteSybaseIdentifier(name.toStdString());
    }

    bool mysql_;
    bool dropped_ = false;
    std::string home_;
    std::string name_;
    ConnectionProfile profile_;
    Connection client_;
};

// One side of the window: its list, drop button and the drop handler's statement numbers.
struct Side {
    const char* name;
    bool mysql;
    int dropButton;
    const char* dropHandler;
    unsigned openLine;
    unsigned dropLine;
};
const Side kSides[] = {
    {"MySQL", true, 1, "PushButton1_Click", 108, 116},
    {"Sybase ASE", false, 5, "PushButton5_Click", 104, 112},
};

// Sets up a scratch database of `side` holding `tables`, points the window's profile at it and
// fills the side's list from the server.
struct SideFixture {
    SideFixture(const Side& side, MainWindow& w, const std::string& suffix,
                const QStringList& tables)
        : side(side)
        , list(side.mysql ? w.form.List1() : w.form.List2()) {
        testing::ServerCoordinates server;
        std::string whyNot;
        if (side.mysql ? testing::MySQLServer(server, whyNot)
                       : testing::SybaseServer(server, whyNot))
            scratch = std::make_unique<ScratchDatabase>(side.mysql, server, suffix);
        if (!scratch)
            return;
        for (const QString& name : tables)
            scratch->CreateTable(name);
        (side.mysql ? w.profiles.mysql : w.profiles.sybase) = scratch->Profile();
        if (side.mysql)
            ListMySQLTables(list, scratch->Profile());
        else
            ListSybaseTables(list, scratch->Profile());
    }
    void Select(const QStringList& names) {
        for (int i = 0; i < list.Count(); ++i)
            list.SetSelected(i, names.contains(list.Text(i)));
    }
    void MakeCurrent(const QString& name) {
        list.setCurrentRow(static_cast<int>(list.Texts().indexOf(name)),
                           QItemSelectionModel::NoUpdate);
    }

    const Side& side;
    TableListBox& list;
    std::unique_ptr<ScratchDatabase> scratch;
};

#define REQUIRE_SIDE_SERVER(side)                                                                  \
    do {                                                                                           \
        if ((side).mysql) {                                                                        \
            VELTRANE_REQUIRE_MYSQL(server_);                                                       \
        } else {                                                                                   \
            VELTRANE_REQUIRE_SYBASE(server_);                                                      \
        }                                                                                          \
    } while (false)

TEST(CatalogueListingTest, MySQLListsTablesAndViewsSortedIgnoringCase) {
    VELTRANE_REQUIRE_MYSQL(server);
    ScratchDatabase scratch(true, server, "listing");
    for (const char* name : {"beta", "Alpha", "gamma", "ALPHA_2", "Ünïcødé 表"})
        scratch.CreateTable(QString::fromUtf8(name));
    scratch.Client().Execute("CREATE VIEW delta_view AS SELECT a FROM beta");
    MemoryTableList list;
    list.AddItem(QStringLiteral("stale"));
    ListMySQLTables(list, scratch.Profile());
    EXPECT_EQ(list.Texts(), QStringList({"Alpha", "ALPHA_2", "beta", "delta_view", "gamma",
                                         QString::fromUtf8("Ünïcødé 表")}));
}

TEST(CatalogueListingTest, SybaseListsUserTablesOnlyByBareName) {
    VELTRANE_REQUIRE_SYBASE(server);
    ScratchDatabase scratch(false, server, "listing");
    for (const char* name : {"orders", "ecosystem", "my_sys_log", "SysConfig", "systemlog"})
        scratch.CreateTable(QString::fromLatin1(name));
    scratch.Client().Execute("create table bob.orders (a int)");
    scratch.Client().Execute("create view orders_view as select a from orders");
    MemoryTableList list;
    list.AddItem(QStringLiteral("stale"));
    ListSybaseTables(list, scratch.Profile());
    EXPECT_EQ(list.Texts(), QStringList({"ecosystem", "my_sys_log", "orders", "orders"}));
}

TEST(CatalogueListingTest, EmptyDatabasesEmptyTheLists) {
    VELTRANE_REQUIRE_MYSQL(mysqlServer);
    VELTRANE_REQUIRE_SYBASE(sybaseServer);
    ScratchDatabase mysql(true, mysqlServer, "empty");
    ScratchDatabase sybase(false, sybaseServer, "empty");
    MemoryTableList list1;
    MemoryTableList list2;
    list1.AddItem(QStringLiteral("stale"));
    list2.AddItem(QStringLiteral("stale"));
    ListMySQLTables(list1, mysql.Profile());
    ListSybaseTables(list2, sybase.Profile());
    EXPECT_EQ(list1.Count(), 0);
    EXPECT_EQ(list2.Count(), 0);
}

// As "Next >" calls them: a listing that fails after the connection tests passed keeps its
// list as it was, and the other list is filled all the same.
TEST(CatalogueListingTest, AFailedListingKeepsItsEntriesAndTheOtherListFills) {
    VELTRANE_REQUIRE_MYSQL(mysqlServer);
    VELTRANE_REQUIRE_SYBASE(sybaseServer);
    ScratchDatabase mysql(true, mysqlServer, "failing");
    ScratchDatabase sybase(false, sybaseServer, "failing");
    sybase.CreateTable(QStringLiteral("orders"));
    ASSERT_TRUE(TestMySQLConnection(mysql.Profile()));
    mysql.DropDatabase(); // gone between the test and the listing

    MemoryTableList list1;
    MemoryTableList list2;
    list1.AddItem(QStringLiteral("earlier"));
    ScriptedDialogs dialogs;
    ErrorTrap trap(LocationTag(QStringLiteral("Form1"), QStringLiteral("PushButton4_Click")),
                   dialogs);
    trap.Run(106, [&] { ListMySQLTables(list1, mysql.Profile()); });
    trap.Run(108, [&] { ListSybaseTables(list2, sybase.Profile()); });
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_TRUE(dialogs.shown()[0].text.contains(
        QStringLiteral("in Brackwater2017/04/05.Form1.PushButton4_Click at line 106")));
    EXPECT_EQ(list1.Texts(), QStringList({"earlier"}));
    EXPECT_EQ(list2.Texts(), QStringList({"orders"}));

    ConnectionProfile unreachable = sybase.Profile();
    unreachable.Port = QStringLiteral("1");
    EXPECT_THROW(ListSybaseTables(list2, unreachable), DatabaseError);
    EXPECT_EQ(list2.Texts(), QStringList({"orders"}));
}

TEST(MainWindowDropTest, DropsTheSelectedTablesAndKeepsTheRest) {
    for (const Side& side : kSides) {
        SCOPED_TRACE(side.name);
        REQUIRE_SIDE_SERVER(side);
        MainWindow w;
        SideFixture f(side, w, "drop3", {"t1", "T2", "t3", "t4", "t5"});
        f.Select({"T2", "t3", "t5"});
        f.MakeCurrent(QStringLiteral("t4"));
        w.form.PushButton(side.dropButton).click();
        EXPECT_TRUE(w.dialogs.shown().empty()) << w.dialogs.shown().front().text.toStdString();
        EXPECT_EQ(f.list.Texts(), QStringList({"t1", "t4"}));
        EXPECT_EQ(f.list.SelectedCount(), 0);
        EXPECT_EQ(f.scratch->Tables(), QStringList({"t1", "t4"}));
        EXPECT_EQ(w.form.Pointer().Shape(), PointerShape::Standard);
    }
}

TEST(MainWindowDropTest, WalksFromTheBottomSoAReferencingTableGoesFirst) {
    VELTRANE_REQUIRE_MYSQL(server);
    MainWindow w;
    SideFixture f(kSides[0], w, "order", {});
    f.scratch->Client().Execute("CREATE TABLE a_parent (id INT PRIMARY KEY) ENGINE=InnoDB");
    f.scratch->Client().Execute("CREATE TABLE b_child (id INT, FOREIGN KEY (id) REFERENCES "
                                "a_parent (id)) ENGINE=InnoDB");
    ListMySQLTables(f.list, f.scratch->Profile());

    // The referenced table alone is refused: reported, and it stays listed.
    f.Select({"a_parent"});
    f.MakeCurrent(QStringLiteral("a_parent"));
    w.form.PushButton1_Click();
    EXPECT_EQ(w.ReportedLines("PushButton1_Click"), std::vector<unsigned>{116});
    EXPECT_EQ(f.list.Texts(), QStringList({"a_parent", "b_child"}));

    w.dialogs.clear();
    f.Select({"a_parent", "b_child"});
    w.form.PushButton1_Click();
    EXPECT_TRUE(w.dialogs.shown().empty());
    EXPECT_EQ(f.list.Count(), 0);
    EXPECT_TRUE(f.scratch->Tables().isEmpty());
}

TEST(MainWindowDropTest, SelectionChecksComeAfterConnecting) {
    for (const Side& side : kSides) {
        SCOPED_TRACE(side.name);
        REQUIRE_SIDE_SERVER(side);
        MainWindow w;
        SideFixture f(side, w, "check", {"orders", "parts"});
        struct Case {
            const char* what;
            const char* current;
            QStringList selected;
            QStringList messages;
            QStringList left;
        };
        // The check passes with a current entry or a selected one: Select All after "Next >"
        // leaves no current entry.
        const Case cases[] = {
            {"no current entry, nothing selected",
             nullptr,
             {},
             {"Please select a table"},
             {"orders", "parts"}},
            {"current, nothing selected", "parts", {}, {}, {"orders", "parts"}},
            {"selected, none current", nullptr, {"orders"}, {}, {"parts"}},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            w.dialogs.clear();
            f.Select(c.selected);
            f.list.setCurrentRow(-1, QItemSelectionModel::NoUpdate);
            if (c.current)
                f.MakeCurrent(QString::fromLatin1(c.current));
            w.form.PushButton(side.dropButton).click();
            EXPECT_EQ(w.Messages(), c.messages);
            EXPECT_TRUE(w.ReportedLines(side.dropHandler).empty());
            EXPECT_EQ(f.list.Texts(), c.left);
            EXPECT_EQ(f.scratch->Tables(), c.left);
        }
        // Connecting comes first: with the server unreachable the check still shows its box.
        (side.mysql ? w.profiles.mysql : w.profiles.sybase).Port = QStringLiteral("1");
        f.Select({});
        f.list.setCurrentRow(-1, QItemSelectionModel::NoUpdate);
        w.dialogs.clear();
        w.form.PushButton(side.dropButton).click();
        EXPECT_EQ(w.ReportedLines(side.dropHandler), std::vector<unsigned>{side.openLine});
        EXPECT_EQ(w.Messages(), QStringList({"Please select a table"}));
    }
}

TEST(MainWindowDropTest, ATableAlreadyDroppedElsewhereLeavesTheList) {
    for (const Side& side : kSides) {
        SCOPED_TRACE(side.name);
        REQUIRE_SIDE_SERVER(side);
        MainWindow w;
        SideFixture f(side, w, "gone", {"gone", "kept", "mine"});
        f.scratch->DropTable(QStringLiteral("gone"));
        f.Select({"gone", "mine"});
        f.MakeCurrent(QStringLiteral("mine"));
        w.form.PushButton(side.dropButton).click();
        EXPECT_EQ(w.ReportedLines(side.dropHandler), std::vector<unsigned>{side.dropLine});
        EXPECT_EQ(f.list.Texts(), QStringList({"kept"}));
        EXPECT_EQ(f.scratch->Tables(), QStringList({"kept"}));
    }
}

TEST(MainWindowDropTest, UnreachableServerReportsOnceAndKeepsTheEntries) {
    for (const Side& side : kSides) {
        SCOPED_TRACE(side.name);
        REQUIRE_SIDE_SERVER(side);
        MainWindow w;
        SideFixture f(side, w, "unreachable", {"a", "b", "c"});
        (side.mysql ? w.profiles.mysql : w.profiles.sybase).Port = QStringLiteral("1");
        f.Select({"a", "c"});
        f.MakeCurrent(QStringLiteral("c"));
        w.form.PushButton(side.dropButton).click();
        EXPECT_EQ(w.ReportedLines(side.dropHandler), std::vector<unsigned>{side.openLine});
        EXPECT_TRUE(w.Messages().isEmpty());
        EXPECT_EQ(f.list.Texts(), QStringList({"a", "b", "c"}));
        EXPECT_EQ(f.list.SelectedCount(), 2);
        EXPECT_EQ(f.scratch->Tables(), QStringList({"a", "b", "c"}));
        EXPECT_EQ(w.form.Pointer().Shape(), PointerShape::Standard);
    }
}

// Names that would end their quotes early, or break a statement built without quoting.
QStringList OddNames() {
    return {QStringLiteral("we`ird"),       QStringLiteral("br]ack[et"),
            QStringLiteral("quo'te"),       QStringLiteral("dq\"uote"),
            QStringLiteral("with blank"),   QStringLiteral("semi; DROP TABLE keep"),
            QString::fromUtf8("Ünïcødé 表")};
}

TEST(MainWindowDropTest, OddNamesAreDroppedExactly) {
    for (const Side& side : kSides) {
        SCOPED_TRACE(side.name);
        REQUIRE_SIDE_SERVER(side);
        MainWindow w;
        SideFixture f(side, w, "odd", OddNames() << QStringLiteral("keep"));
        ASSERT_EQ(f.list.Count(), OddNames().size() + 1);
        f.Select(OddNames());
        f.MakeCurrent(QStringLiteral("keep"));
        w.form.PushButton(side.dropButton).click();
        EXPECT_TRUE(w.dialogs.shown().empty()) << w.dialogs.shown().front().text.toStdString();
        EXPECT_EQ(f.list.Texts(), QStringList({"keep"}));
        EXPECT_EQ(f.scratch->Tables(), QStringList({"keep"}));
    }
}

TEST(MainWindowRenameTest, RenamesTheOneSelectedMySQLTableOnTheServerAndInTheList) {
    VELTRANE_REQUIRE_MYSQL(server);
    const QString odd = QString::fromUtf8("we`ird ]'\"Ü 表");
    struct Case {
        const char* what;
        QStringList selected;
        const char* current; // nullptr: none
        const char* answer;  // nullptr: no input box expected
        bool unreachable;
        QStringList messages; // besides error reports
        std::vector<unsigned> reports;
        QStringList listAfter;
        QStringList tablesAfter;
    };
    const QStringList before = {"items", "orders", "parts"};
    const Case cases[] = {
        {"nothing selected",
         {},
         "orders",
         nullptr,
         false,
         {"Please select just one table to rename."},
         {},
         before,
         before},
        {"two selected",
         {"orders", "parts"},
         "orders",
         nullptr,
         false,
         {"Please select just one table to rename."},
         {},
         before,
         before},
        {"selected without current",
         {"orders"},
         nullptr,
         nullptr,
         false,
         {"Please select a table to rename."},
         {},
         before,
         before},
        {"renamed",
         {"orders"},
         "orders",
         "customers",
         false,
         {},
         {},
         {"customers", "items", "parts"},
         {"customers", "items", "parts"}},
        {"cancelled", {"orders"}, "orders", "", false, {}, {}, before, before},
        {"name taken", {"orders"}, "orders", "parts", false, {}, {120}, before, before},
        {"unreachable", {"orders"}, "orders", "customers", true, {}, {120}, before, before},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MainWindow w;
        SideFixture f(kSides[0], w, "rename", before);
        f.Select(c.selected);
        if (c.current)
            f.MakeCurrent(QString::fromLatin1(c.current));
        if (c.answer)
            w.dialogs.QueueInput(QString::fromLatin1(c.answer));
        if (c.unreachable)
            w.profiles.mysql.Port = QStringLiteral("1");
        w.form.PushButton(6).click();

        EXPECT_EQ(w.Messages(), c.messages);
        EXPECT_EQ(w.ReportedLines("PushButton6_Click"), c.reports);
        EXPECT_EQ(f.list.Texts(), c.listAfter);
        EXPECT_EQ(f.scratch->Tables(), c.tablesAfter);
        EXPECT_EQ(w.form.Pointer().Shape(), PointerShape::Standard);
        const auto input = std::find_if(w.dialogs.shown().begin(), w.dialogs.shown().end(),
                                        [](const auto& box) { return box.isInput; });
        ASSERT_EQ(input != w.dialogs.shown().end(), c.answer != nullptr);
        if (c.answer) {
            EXPECT_EQ(input->caption, QStringLiteral("Veltrane"));
            EXPECT_EQ(input->text, QStringLiteral("Enter new name of orders:"));
            EXPECT_EQ(input->initialAnswer, QStringLiteral("orders"));
            EXPECT_EQ(f.list.SelectedCount(), c.listAfter == before ? 1 : 0);
        }
    }

    // Odd names both ways, and a table someone else already dropped.
    MainWindow w;
    SideFixture f(kSides[0], w, "rename", {"plain", "gone"});
    f.Select({"plain"});
    f.MakeCurrent(QStringLiteral("plain"));
    w.dialogs.QueueInput(odd);
    w.form.PushButton6_Click();
    f.Select({odd});
    f.MakeCurrent(odd);
    w.dialogs.QueueInput(QStringLiteral("back again"));
    w.form.PushButton6_Click();
    EXPECT_TRUE(w.ReportedLines("PushButton6_Click").empty());
    EXPECT_TRUE(w.Messages().isEmpty());
    EXPECT_EQ(f.list.Texts(), QStringList({"back again", "gone"}));
    EXPECT_EQ(f.scratch->Tables(), QStringList({"back again", "gone"}));

    f.scratch->DropTable(QStringLiteral("gone"));
    f.Select({"gone"});
    f.MakeCurrent(QStringLiteral("gone"));
    w.dialogs.clear();
    w.dialogs.QueueInput(QStringLiteral("found"));
    w.form.PushButton6_Click();
    EXPECT_EQ(w.ReportedLines("PushButton6_Click"), std::vector<unsigned>{120});
    EXPECT_EQ(f.list.Texts(), QStringList({"back again", "gone"}));
}

// Both servers' scratch databases behind one window, for the rules a real Sybase ASE imposes on
// the names that the transfers and the drop reach.
struct BothSides {
    BothSides(MainWindow& w, const std::string& suffix, const testing::ServerCoordinates& my,
              const testing::ServerCoordinates& ase)
        : w(w)
        , mysql(true, my, suffix)
        , sybase(false, ase, suffix) {
        w.profiles.mysql = mysql.Profile();
        w.profiles.sybase = sybase.Profile();
    }
    void Relist() {
        ListMySQLTables(w.form.List1(), mysql.Profile());
        ListSybaseTables(w.form.List2(), sybase.Profile());
    }
    // Selects the entries at `rows` alone, with no current entry (as after Select All).
    static void SelectOnly(TableListBox& list, std::initializer_list<int> rows) {
        list.setCurrentRow(-1, QItemSelectionModel::NoUpdate);
        for (int i = 0; i < list.Count(); ++i)
            list.SetSelected(i, std::find(rows.begin(), rows.end(), i) != rows.end());
    }
    static int EntryOwnedBy(const TableList& list, const QString& owner) {
        for (int i = 0; i < list.Count(); ++i)
            if (list.Owner(i).name == owner)
                return i;
        return -1;
    }
    // The `who` values of a table on one server, sorted, or "absent".
    static QStringList Who(Connection& client, const std::string& table) {
        try {
            return Column0(*client.Execute("SELECT who FROM " + table));
        } catch (const DatabaseError&) {
            return {QStringLiteral("absent")};
        }
    }

    MainWindow& w;
    ScratchDatabase mysql;
    ScratchDatabase sybase;
};

// Sybase ASE lists a table once per owner. Each entry reaches its own owner's table when it is
// sent or dropped; a transfer toward ASE overwrites the login's own table (the one its CREATE
// TABLE meets), never another owner's, whose entry stays.
TEST(MainWindowOwnersTest, EachEntryReachesItsOwnersTable) {
    VELTRANE_REQUIRE_MYSQL(mysqlServer);
    VELTRANE_REQUIRE_SYBASE(sybaseServer);
    MainWindow w;
    BothSides both(w, "owners", mysqlServer, sybaseServer);
    Connection& ase = both.sybase.Client();
    ase.Execute("create table dup (who varchar(10) null) insert dup values ('dbo')");
    ase.Execute("create table bob.dup (who varchar(10) null) insert bob.dup values ('bob')");
    both.Relist();
    TableListBox& list2 = w.form.List2();
    ASSERT_EQ(list2.Texts(), QStringList({"dup", "dup"}));
    for (const QString& owner : {QStringLiteral("bob"), QStringLiteral("dbo")}) {
        SCOPED_TRACE(owner.toStdString());
        BothSides::SelectOnly(list2, {BothSides::EntryOwnedBy(list2, owner)});
        w.form.PushButton(4).click(); // the second time over the first copy, after a Yes
        EXPECT_TRUE(w.ReportedLines("PushButton4_Click").empty());
        EXPECT_EQ(BothSides::Who(both.mysql.Client(), "dup"), QStringList({owner}));
    }

    BothSides::SelectOnly(list2, {BothSides::EntryOwnedBy(list2, QStringLiteral("bob"))});
    w.form.PushButton(5).click();
    EXPECT_TRUE(w.ReportedLines("PushButton5_Click").empty());
    EXPECT_EQ(BothSides::Who(ase, "bob.dup"), QStringList({"absent"}));
    EXPECT_EQ(BothSides::Who(ase, "dbo.dup"), QStringList({"dbo"}));
    ASSERT_EQ(list2.Texts(), QStringList({"dup"}));
    EXPECT_EQ(list2.Owner(0).name, QStringLiteral("dbo"));

    ase.Execute("create table bob.dup (who varchar(10) null) insert bob.dup values ('bob')");
    both.mysql.Client().Execute("INSERT INTO dup VALUES ('mysql')");
    both.Relist();
    w.dialogs.clear();
    BothSides::SelectOnly(w.form.List1(), {0});
    w.form.PushButton(3).click();
    EXPECT_EQ(w.Messages(), QStringList({"Would you like to overwrite dup?"}));
    EXPECT_TRUE(w.ReportedLines("PushButton3_Click").empty());
    EXPECT_EQ(BothSides::Who(ase, "dbo.dup"), QStringList({"dbo", "mysql"}));
    EXPECT_EQ(BothSides::Who(ase, "bob.dup"), QStringList({"bob"}));
    ASSERT_EQ(list2.Texts(), QStringList({"dup", "dup"}));
    const int bobs = BothSides::EntryOwnedBy(list2, QStringLiteral("bob"));
    ASSERT_GE(bobs, 0);

    // The entry the copy added names the login's own table bare.
    BothSides::SelectOnly(list2, {1 - bobs});
    w.form.PushButton(5).click();
    EXPECT_TRUE(w.ReportedLines("PushButton5_Click").empty());
    EXPECT_EQ(BothSides::Who(ase, "dbo.dup"), QStringList({"absent"}));
    EXPECT_EQ(BothSides::Who(ase, "bob.dup"), QStringList({"bob"}));
    EXPECT_EQ(list2.Owner(0).name, QStringLiteral("bob"));
}

// A case-sensitive Sybase ASE (its default sort order) knows a copied table only by the name
// it was created with, which the list then shows: the entry can be sent back and dropped.
TEST(MainWindowOwnersTest, ACopiedTableIsListedAsCreated) {
    VELTRANE_REQUIRE_MYSQL(mysqlServer);
    VELTRANE_REQUIRE_SYBASE(sybaseServer);
    MainWindow w;
    BothSides both(w, "case", mysqlServer, sybaseServer);
    both.mysql.Client().Execute("CREATE TABLE Orders (who VARCHAR(10))");
    both.mysql.Client().Execute("INSERT INTO Orders VALUES ('mysql')");
    both.Relist();
    BothSides::SelectOnly(w.form.List1(), {0});
    w.form.PushButton(3).click();
    ASSERT_EQ(w.form.List2().Texts(), QStringList({"Orders"}));

    both.mysql.Client().Execute("DELETE FROM Orders");
    BothSides::SelectOnly(w.form.List2(), {0});
    w.form.PushButton(4).click(); // over MySQL's Orders, after a Yes
    EXPECT_EQ(BothSides::Who(both.mysql.Client(), "Orders"), QStringList({"mysql"}));
    w.form.PushButton(5).click();
    EXPECT_TRUE(w.ReportedLines("PushButton3_Click").empty());
    EXPECT_TRUE(w.ReportedLines("PushButton4_Click").empty());
    EXPECT_TRUE(w.ReportedLines("PushButton5_Click").empty());
    EXPECT_EQ(both.sybase.Tables(), QStringList());
    EXPECT_EQ(w.form.List2().Count(), 0);
}

// Sybase ASE takes no '.' inside a name. A MySQL table or column name holding one is refused
// before any statement reaches Sybase ASE for that table: nothing is dropped, even after a Yes,
// and nothing created. On MySQL such names work as any other.
TEST(MainWindowOwnersTest, DottedNamesAreRefusedTowardSybase) {
    VELTRANE_REQUIRE_MYSQL(mysqlServer);
    VELTRANE_REQUIRE_SYBASE(sybaseServer);
    MainWindow w;
    BothSides both(w, "dots", mysqlServer, sybaseServer);
    both.mysql.Client().Execute("CREATE TABLE `dot.ted` (a INT)");
    both.mysql.Client().Execute("CREATE TABLE cols (`x.y` INT)");
    both.sybase.Client().Execute("create table cols (who varchar(10) null) "
                                 "insert cols values ('kept')");
    both.Relist();
    BothSides::SelectOnly(w.form.List1(), {0, 1});
    w.form.PushButton(3).click();
    EXPECT_EQ(w.Messages(), QStringList({"Would you like to overwrite cols?"}));
    EXPECT_EQ(w.ReportedLines("PushButton3_Click"), (std::vector<unsigned>{132, 158}));
    for (const auto& box : w.dialogs.shown())
        if (box.caption == QStringLiteral("Application Error")) {
            EXPECT_TRUE(box.text.contains(QStringLiteral("holds a '.'"))) << box.text.toStdString();
        }
    EXPECT_EQ(BothSides::Who(both.sybase.Client(), "cols"), QStringList({"kept"}));
    EXPECT_EQ(both.sybase.Tables(), QStringList({"cols"}));
    EXPECT_EQ(w.form.List2().Texts(), QStringList({"cols"}));

    w.dialogs.clear();
    BothSides::SelectOnly(w.form.List1(), {1});
    w.form.PushButton(1).click();
    EXPECT_TRUE(w.dialogs.shown().empty());
    EXPECT_EQ(both.mysql.Tables(), QStringList({"cols"}));
}

} // namespace
} // namespace veltrane
