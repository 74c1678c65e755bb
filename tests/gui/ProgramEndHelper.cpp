// Runs the program's two windows without servers and closes one of them, to show from outside
// that closing either window ends the process at once:
//   program_end_helper connection|main [yielding] CONFIG_DIR
// "connection" closes the connection window while the main window is hidden, "main" the main
// window while the connection window is hidden; "yielding" closes it from inside an operation
// that is yielding to the event loop. Whatever still runs after the close prints a line and
// exits with 3.
#include "app/Dialogs.h"
#include "app/ProgramWindows.h"
#include "app/Yield.h"
#include "catalogue/Form2.h"
#include "connect/SettingsStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    if (argc < 3)
        return 2;
    QApplication app(argc, argv);
    const bool closeMain = std::strcmp(argv[1], "main") == 0;
    const bool yielding = argc > 3 && std::strcmp(argv[2], "yielding") == 0;
    veltrane::ScriptedDialogs dialogs;
    veltrane::SettingsStore settings(QString::fromLocal8Bit(argv[argc - 1]));
    veltrane::ProgramWindows windows(dialogs, settings, QString::fromLocal8Bit(argv[argc - 1]));
    windows.Start();          // no server answers: the connection window stays
    windows.MySQLTableList(); // the main window exists, hidden
    QWidget* closing = &windows.ConnectionWindow();
    if (closeMain) {
        windows.ShowMainWindow();
        windows.ConnectionWindow().hide();
        closing = windows.MainWindowIfLoaded();
    }
    QTimer::singleShot(0, [&] {
        if (yielding) {
            QTimer::singleShot(50, closing, &QWidget::close);
            QElapsedTimer running;
            running.start();
            while (running.elapsed() < 3000)
                veltrane::ProgramYielder().YieldNow();
            std::puts("the operation went on after the close");
            std::exit(3);
        }
        closing->close();
        std::puts("the program went on after the close");
        std::exit(3);
    });
    app.exec();
    std::puts("the event loop ended without ending the program");
    return 3;
}
