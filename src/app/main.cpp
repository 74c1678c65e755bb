#include "app/shell/ProgramFiles.h"
#include "app/startup/ProgramWindows.h"
#include "app/window/QtDialogs.h"
#include "connect/SettingsStore.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    veltrane::QtDialogs dialogs;
    veltrane::SettingsStore settings;
    veltrane::ProgramWindows windows(dialogs, settings, veltrane::ProgramFolder());
    windows.Start();
    return app.exec();
}
