// Start-up to the filled main window: the connection window loads the stored profiles, tests
// both connections twice, lists the tables of both servers and shows the main window.
// Baseline, in the same run: opening one connection to each server, the least that any start
// that reaches the main window must do. Needs the servers of scripts/lib/servers.sh.
//
//   bench_startup [ROUNDS]
#include "BenchSupport.h"
#include "app/shell/Dialogs.h"
#include "app/startup/ProgramWindows.h"
#include "catalogue/lists/TableList.h"
#include "catalogue/window/Form2.h"
#include "connect/Connection.h"
#include "connect/ProfileFields.h"
#include "connect/SettingsStore.h"

#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

using namespace veltrane;
using Clock = std::chrono::steady_clock;

int main(int argc, char* argv[]) {
    const bench::ServerEnv mysql = bench::ServerEnv::MySQL();
    const bench::ServerEnv sybase = bench::ServerEnv::Sybase();
    if (!mysql.Configured() || !sybase.Configured()) {
        std::fprintf(stderr,
                     "bench_startup: start the test servers first (scripts/lib/servers.sh)\n");
        return 2;
    }
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    SettingsStore store(dir.path());
    const auto profileOf = [](const bench::ServerEnv& server) {
        return ConnectionProfile{
            QString::fromStdString(server.host), QString::fromStdString(server.port),
            QString::fromStdString(server.user), QString::fromStdString(server.password),
            QString::fromStdString(server.database)};
    };
    const ConnectionProfile sybaseProfile = profileOf(sybase), mysqlProfile = profileOf(mysql);
    for (const ProfileField& field : kProfileFields)
        store.SaveSetting(kSettingsApplication, kSettingsSection, QString::fromLatin1(field.key),
                          (field.server == ServerKind::MySQL ? mysqlProfile : sybaseProfile).*
                              field.member);

    std::vector<double> startup, baseline;
    int tables = -1;
    for (int round = 0; round < rounds; ++round) {
        Clock::time_point start = Clock::now();
        {
            Connection toMySQL;
            toMySQL.Open(bench::MySQLConnectionString(mysql));
            Connection toSybase;
            toSybase.Open(bench::SybaseConnectionString(sybase));
        }
        baseline.push_back(bench::Seconds(Clock::now() - start));

        ScriptedDialogs dialogs;
        start = Clock::now();
        ProgramWindows windows(dialogs, store, dir.path());
        windows.Start();
        QCoreApplication::processEvents();
        startup.push_back(bench::Seconds(Clock::now() - start));
        Form2* main = windows.MainWindowIfLoaded();
        if (!main || !main->isVisible() || !dialogs.shown().empty()) {
            std::fprintf(stderr, "bench_startup: the main window did not open cleanly\n");
            return 1;
        }
        tables = windows.MySQLTableList().Count() + windows.SybaseTableList().Count();
        main->hide();
    }
    const double s = bench::Median(startup), b = bench::Median(baseline);
    std::printf(
        "start-up to the filled main window (%d tables listed): median %.1f ms over %d rounds\n",
        tables, s * 1000, rounds);
    std::printf("baseline, one connection to each server:               median %.1f ms\n",
                b * 1000);
    std::printf("ratio start-up / baseline: %.2f\n", s / b);
    return 0;
}
