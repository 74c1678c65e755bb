// A server that accepts connections and never answers, met through "Next >": a relay in front
// of a test server goes silent from the start or at a chosen statement, and the window gives up
// in bounded time, reports what the Part says it reports, and works once the server answers
// again. Each case waits for a timeout, so each runs in a process of its own, in parallel.
#include "GuiTestApplication.h"
#include "PrivateServers.h"
#include "ProfileFieldsInWindow.h"
#include "TestServers.h"
#include "app/shell/Dialogs.h"
#include "app/window/PointerFeedback.h"
#include "catalogue/lists/TableList.h"
#include "connect/SettingsStore.h"
#include "connect/window/Form1.h"

#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

namespace veltrane {
namespace {

[[maybe_unused]] auto* const kApp =
    ::testing::AddGlobalTestEnvironment(new test::GuiTestApplication);

class RecordingHandover : public MainWindowHandover {
public:
    MemoryTableList mysql, sybase;
    int shown = 0;
    TableList& MySQLTableList() override { return mysql; }
    TableList& SybaseTableList() override { return sybase; }
    void ShowMainWindow() override { ++shown; }
};

struct HangCase {
    const char* name;
    bool mysql;          // the side behind the relay
    const char* trigger; // the statement at which it goes silent; none: silent from the start
    // What Next then shows: nothing (a connection test fails silently), or one report at the
    // listing statement, after which the main window opens as the Part says.
    unsigned reportedLine;
};

// Names the case in the test list instead of dumping its bytes.
void PrintTo(const HangCase& c, std::ostream* os) {
    *os << c.name;
}

class SilentServer : public ::testing::TestWithParam<HangCase> {};

TEST_P(SilentServer, NextGivesUpReportsAsItShouldAndWorksOnceTheServerAnswers) {
    const HangCase& c = GetParam();
    VELTRANE_REQUIRE_MYSQL(mysql);
    VELTRANE_REQUIRE_SYBASE(sybase);
    testing::SilencingRelay relay(std::stoi(c.mysql ? mysql.port : sybase.port));
    ConnectionProfile s = sybase.Profile(), m = mysql.Profile();
    (c.mysql ? m : s).Port = QString::number(relay.Port());

    QTemporaryDir configDir;
    SettingsStore store(configDir.path());
    ScriptedDialogs dialogs;
    RecordingHandover handover;
    Form1 form(dialogs, store, configDir.path());
    form.SetMainWindow(&handover);
    test::FillProfileFields(form, s, m);

    if (*c.trigger)
        relay.SilenceAt(c.trigger);
    else
        relay.SilenceNow();
    const auto started = std::chrono::steady_clock::now();
    form.PushButton4_Click();
    const auto waited = std::chrono::steady_clock::now() - started;

    ASSERT_TRUE(relay.Silent()) << "the relay never went silent";
    // Bounded: the open's 15 seconds, or a statement's 30 and the client's grace on top.
    EXPECT_LT(waited, std::chrono::seconds(90));
    EXPECT_EQ(form.Pointer().Shape(), PointerShape::Standard);
    std::vector<QString> reports;
    for (const ScriptedDialogs::Shown& box : dialogs.shown())
        reports.push_back(box.text);
    if (c.reportedLine == 0) {
        EXPECT_TRUE(reports.empty()) << reports.front().toStdString();
        EXPECT_EQ(handover.shown, 0);
    } else {
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_TRUE(reports[0].contains(QStringLiteral(" at line %1\r").arg(c.reportedLine)))
            << reports[0].toStdString();
        EXPECT_EQ(handover.shown, 1);
    }

    relay.Speak();
    dialogs.clear();
    handover.shown = 0;
    form.PushButton4_Click();
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(handover.shown, 1);
}

INSTANTIATE_TEST_SUITE_P(Hangs, SilentServer,
                         ::testing::Values(HangCase{"MySQLFromTheStart", true, "", 0},
                                           HangCase{"SybaseFromTheStart", false, "", 0},
                                           HangCase{"MySQLAtListing", true, "SHOW TABLES", 106}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrane
