#include "app/startup/ProgramWindows.h"

#include "GuiTestApplication.h"
#include "StoredProfiles.h"
#include "TestServers.h"
#include "app/shell/Dialogs.h"
#include "catalogue/window/Form2.h"
#include "catalogue/window/Form2Controls.h"
#include "connect/Connection.h"
#include "connect/SettingsStore.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace veltrane {
namespace {

[[maybe_unused]] auto* const kApp =
    ::testing::AddGlobalTestEnvironment(new test::GuiTestApplication);

TEST(ProgramWindowsTest, StartsOnTheFilledMainWindowAndBackKeepsTheFields) {
    VELTRANE_REQUIRE_MYSQL(mysql);
    VELTRANE_REQUIRE_SYBASE(sybase);
    {
        Connection connection;
        connection.Open(testing::MySQLConnectionStringFor(mysql));
        connection.Execute("DROP TABLE IF EXISTS program_windows_probe");
        connection.Execute("CREATE TABLE program_windows_probe (id INT)");
    }
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    testing::StoreProfiles(store, sybase.Profile(), mysql.Profile());
    ScriptedDialogs dialogs;
    ProgramWindows windows(dialogs, store, dir.path());
    windows.Start();

    Form2* main = windows.MainWindowIfLoaded();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->isVisible());
    EXPECT_FALSE(windows.ConnectionWindow().isVisible());
    EXPECT_TRUE(main->List1().Texts().contains(QStringLiteral("program_windows_probe")));
    EXPECT_TRUE(dialogs.shown().empty());
    // The main window connects with the connection window's fields.
    EXPECT_EQ(main->Profiles().MySQLProfile().Port, mysql.Profile().Port);

    main->PushButton(2).click(); // "< Back"
    EXPECT_TRUE(windows.ConnectionWindow().isVisible());
    EXPECT_FALSE(main->isVisible());
    auto* port = windows.ConnectionWindow().findChild<QLineEdit*>(
        ProfileFieldOf(ServerKind::MySQL, &ConnectionProfile::Port).FieldName());
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->text(), mysql.Profile().Port);
    // The main window keeps its lists while hidden; "Next >" fills them again.
    EXPECT_TRUE(main->List1().Texts().contains(QStringLiteral("program_windows_probe")));
    windows.ConnectionWindow().PushButton4_Click();
    EXPECT_TRUE(main->isVisible());
    EXPECT_FALSE(windows.ConnectionWindow().isVisible());
    EXPECT_EQ(windows.MainWindowIfLoaded(), main);
    EXPECT_TRUE(dialogs.shown().empty());
    main->hide();
}

TEST(ProgramWindowsTest, ClosingEitherWindowEndsTheProgramAtOnce) {
    const QStringList cases[] = {
        {QStringLiteral("connection")},
        {QStringLiteral("main")},
        {QStringLiteral("connection"), QStringLiteral("yielding")},
        {QStringLiteral("main"), QStringLiteral("yielding")},
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        QTemporaryDir dir;
        SettingsStore store(dir.path());
        // Nothing answers on either side, so the program stays in the connection window.
        const ConnectionProfile nobody{QStringLiteral("127.0.0.1"), QStringLiteral("1"), QString(),
                                       QString(), QString()};
        testing::StoreProfiles(store, nobody, nobody);
        QProcess helper;
        helper.setProcessChannelMode(QProcess::MergedChannels);
        helper.start(QStringLiteral(VELTRANE_PROGRAM_END_HELPER),
                     arguments + QStringList{dir.path()});
        ASSERT_TRUE(helper.waitForFinished(30000));
        const QString output = QString::fromLocal8Bit(helper.readAll());
        EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(helper.exitCode(), 0) << output.toStdString();
        EXPECT_FALSE(output.contains(QStringLiteral("went on"))) << output.toStdString();
    }
}

} // namespace
} // namespace veltrane
