// The two "Send Table/s" buttons of the main window, offscreen, against the test servers:
// a click copies the selected table, a click that arrives while a transfer runs does nothing,
// and closing the window during a transfer ends the program at once.

#include "GuiTestApplication.h"
#include "TestServers.h"
#include "app/shell/Dialogs.h"
#include "app/window/PointerFeedback.h"
#include "catalogue/window/Form2.h"
#include "catalogue/window/Form2Controls.h"
#include "connect/Connection.h"
#include "connect/LiveProfiles.h"
#include "connect/access/DatabaseError.h"
#include "connect/access/SqlText.h"

#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace veltrane {
namespace {

[[maybe_unused]] auto* const kApp =
    ::testing::AddGlobalTestEnvironment(new test::GuiTestApplication);

using testing::ServerCoordinates;

struct Side {
    bool mysql;
    ServerCoordinates at;

    std::string Quote(const std::string& name) const {
        return mysql ? QuoteMySQLIdentifier(name) : QuoteSybaseIdentifier(name);
    }
    std::unique_ptr<Connection> Open() const {
        auto c = std::make_unique<Connection>();
        c->SetCursorLocation(CursorLocation::Client);
        c->Open(mysql ? testing::MySQLConnectionStringFor(at)
                      : testing::SybaseConnectionStringFor(at));
        return c;
    }
    void Drop(const std::string& name) const {
        try {
            Open()->Execute("DROP TABLE " + Quote(name));
        } catch (const DatabaseError&) {
        }
    }
    // A table of `rows` rows with one int column.
    void Create(const std::string& name, int rows) const {
        Drop(name);
        auto c = Open();
        c->Execute("CREATE TABLE " + Quote(name) + (mysql ? " (id INT)" : " (id int)"));
        for (int i = 1; i <= rows; ++i)
            c->Execute("INSERT INTO " + Quote(name) + " VALUES (" + std::to_string(i) + ")");
    }
    std::string Count(const std::string& name) const {
        auto rows = Open()->Execute("SELECT COUNT(*) FROM " + Quote(name));
        return rows->Value(0).ToText();
    }
};

class Form2TransfersTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        VELTRANE_REQUIRE_MYSQL(mysql);
        VELTRANE_REQUIRE_SYBASE(sybase);
        mysql_ = {true, mysql};
        sybase_ = {false, sybase};
        profiles_.mysql = mysql.Profile();
        profiles_.sybase = sybase.Profile();
        form_ = std::make_unique<Form2>(dialogs_, profiles_);
        form_->show();
    }
    void TearDown() override {
        for (const std::string& name : made_) {
            mysql_.Drop(name);
            sybase_.Drop(name);
        }
    }

    bool ToSybase() const { return GetParam() == 3; }
    const Side& Source() const { return ToSybase() ? mysql_ : sybase_; }
    const Side& Target() const { return ToSybase() ? sybase_ : mysql_; }
    TableListBox& SourceList() const { return ToSybase() ? form_->List1() : form_->List2(); }
    TableListBox& TargetList() const { return ToSybase() ? form_->List2() : form_->List1(); }

    // A source table of `rows` rows, listed, selected and current.
    std::string SelectedSourceTable(const std::string& what, int rows) {
        // Named by test and button, not by process: the closing test's child process (a death
        // test) works on the same table as its parent, which drops it.
        const std::string name = "vt_gui_" + what + "_" + std::to_string(GetParam());
        made_.push_back(name);
        Source().Create(name, rows);
        Target().Drop(name);
        SourceList().AddItem(QString::fromStdString(name));
        SourceList().setCurrentRow(0);
        SourceList().SetSelected(0, true);
        return name;
    }

    Side mysql_, sybase_;
    FixedProfiles profiles_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<Form2> form_;
    std::vector<std::string> made_;
};

TEST_P(Form2TransfersTest, ButtonCopiesSelectedTable) {
    const std::string name = SelectedSourceTable("copy", 3);

    form_->PushButton(GetParam()).click();

    EXPECT_TRUE(dialogs_.shown().empty()) << dialogs_.texts().front().toStdString();
    EXPECT_EQ(Target().Count(name), "3");
    EXPECT_EQ(TargetList().Texts(), QStringList{QString::fromStdString(name)});
    EXPECT_EQ(form_->ProgressBar1().Percent(), 0);
    EXPECT_EQ(form_->Pointer().Shape(), PointerShape::Standard);
}

// A failure is reported under the clicked button's own handler, with the statement then being
// run: none yet when a connection does not open.
TEST_P(Form2TransfersTest, FailureIsReportedUnderTheButtonsHandler) {
    SelectedSourceTable("tag", 1);
    profiles_.sybase.Port = QStringLiteral("1");

    form_->PushButton(GetParam()).click();

    ASSERT_EQ(dialogs_.shown().size(), 1u);
    const QString& report = dialogs_.shown()[0].text;
    EXPECT_TRUE(report.contains(ToSybase() ? QStringLiteral("\r\nin Brackwater2017/04/05.Form2."
                                                            "PushButton3_Click at line 116\r\r")
                                           : QStringLiteral("\r\nin Brackwater2017/04/05.Form2."
                                                            "PushButton4_Click at line 118\r\r")))
        << report.toStdString();
    EXPECT_TRUE(report.endsWith(QStringLiteral("\r\rsql: "))) << report.toStdString();
    EXPECT_EQ(form_->Pointer().Shape(), PointerShape::Standard);
}

// Clicks that arrive during the run's yields, on either send button or on the same one, do
// nothing: the other button would otherwise say its list has no current entry, and the same
// one would copy the table a second time.
TEST_P(Form2TransfersTest, ClickDuringRunIsIgnored) {
    const std::string name = SelectedSourceTable("busy", 300);
    int clicks = 0;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (clicks++ < 3) {
            form_->PushButton(3).click();
            form_->PushButton(4).click();
        }
    });
    clicker.start(1);

    form_->PushButton(GetParam()).click();

    EXPECT_GE(clicks, 1) << "the run never yielded";
    EXPECT_TRUE(dialogs_.shown().empty()) << dialogs_.texts().front().toStdString();
    EXPECT_EQ(Target().Count(name), "300");
}

// The program ends at once, with status 0, when the window closes while a transfer yields.
TEST_P(Form2TransfersTest, ClosingWindowDuringRunEndsProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SelectedSourceTable("close", 300);
    EXPECT_EXIT(
        {
            QTimer::singleShot(0, form_.get(), [&] { form_->close(); });
            form_->PushButton(GetParam()).click();
            std::_Exit(3); // the run ended although the window was closed
        },
        ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Buttons, Form2TransfersTest, ::testing::Values(3, 4),
                         [](const auto& info) {
                             return "PushButton" + std::to_string(info.param);
                         });

} // namespace
} // namespace veltrane
