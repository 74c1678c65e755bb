// Runs the program's two windows and closes one of them, to show from outside that closing
// either window ends the process at once:
//   program_end_helper connection|main [yielding] CONFIG_DIR
// "connection" closes the connection window while the main window is hidden, "main" the main
// window while the connection window is hidden (no server answers); "yielding" closes it from
// inside an operation that is yielding to the event loop.
//   program_end_helper wait connection|main BUTTON CLOSE_AFTER_MS [TextN=VALUE | select=NAME]...
//                      CONFIG_DIR
// starts with the stored profiles, sets the connection window's fields, selects the entry NAME
// in the list that BUTTON sends or drops, clicks BUTTON on that window and closes the window
// CLOSE_AFTER_MS later, while the click's operation waits for a server. Just before the close
// it prints "closing at T busy B turns N longest G": the monotonic clock in ms, whether the
// window shows the busy pointer, and how often and how regularly a 10 ms timer ran since the
// click. Whatever still runs after the close prints a line and exits with 3.
#include "app/shell/Dialogs.h"
#include "app/shell/Yield.h"
#include "app/startup/ProgramWindows.h"
#include "app/window/PointerFeedback.h"
#include "catalogue/window/Form2.h"
#include "catalogue/window/Form2Controls.h"
#include "connect/SettingsStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

long long MonotonicMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int CloseDuringWait(int argc, char* argv[]) {
    if (argc < 6)
        return 2;
    const bool mainWindow = std::strcmp(argv[2], "main") == 0;
    const int button = std::atoi(argv[3]);
    const int closeAfter = std::atoi(argv[4]);
    veltrane::ScriptedDialogs dialogs; // every question answered with its default, Yes
    veltrane::SettingsStore settings(QString::fromLocal8Bit(argv[argc - 1]));
    veltrane::ProgramWindows windows(dialogs, settings, QString::fromLocal8Bit(argv[argc - 1]));
    windows.Start();
    veltrane::Form1& form1 = windows.ConnectionWindow();
    QString select;
    for (int i = 5; i < argc - 1; ++i) {
        const QString setting = QString::fromLocal8Bit(argv[i]);
        const QString name = setting.section(QLatin1Char('='), 0, 0);
        const QString value = setting.section(QLatin1Char('='), 1);
        if (name == QStringLiteral("select")) {
            select = value;
        } else if (auto* field = form1.findChild<QLineEdit*>(name)) {
            field->setText(value);
        } else {
            std::printf("no field %s\n", qPrintable(name));
            return 2;
        }
    }
    veltrane::Form2* form2 = windows.MainWindowIfLoaded();
    if (mainWindow && (form2 == nullptr || !form2->isVisible())) {
        std::puts("the main window did not open");
        return 2;
    }
    QWidget& window = mainWindow ? static_cast<QWidget&>(*form2) : form1;
    if (!select.isEmpty()) {
        veltrane::TableListBox& list = button == 3 || button == 1 ? form2->List1() : form2->List2();
        for (int i = 0; i < list.Count(); ++i)
            list.SetSelected(i, list.Text(i) == select);
    }
    auto* clicked = window.findChild<QPushButton*>(QStringLiteral("PushButton%1").arg(button));
    if (clicked == nullptr)
        return 2;
    const veltrane::WindowPointer& pointer = mainWindow ? form2->Pointer() : form1.Pointer();

    long long lastTurn = 0, longest = 0, turns = 0;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] {
        const long long now = MonotonicMilliseconds();
        longest = std::max(longest, now - lastTurn);
        lastTurn = now;
        ++turns;
    });
    QTimer::singleShot(0, [&] {
        lastTurn = MonotonicMilliseconds();
        turn.start(10);
        QTimer::singleShot(closeAfter, &window, [&] {
            std::printf("closing at %lld busy %d turns %lld longest %lld\n",
                        MonotonicMilliseconds(),
                        pointer.Shape() == veltrane::PointerShape::Busy ? 1 : 0, turns, longest);
            std::fflush(stdout);
            window.close();
            std::puts("the program went on after the close");
            std::exit(3);
        });
        clicked->click();
        std::puts("the operation ended before the close");
        std::exit(3);
    });
    QApplication::exec();
    return 3;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3)
        return 2;
    if (std::strcmp(argv[1], "wait") == 0) {
        QApplication app(argc, argv);
        return CloseDuringWait(argc, argv);
    }
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
