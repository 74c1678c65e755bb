#include "app/ProgramFiles.h"
#include "app/ProgramWindows.h"
#include "app/QtDialogs.h"
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
