#include "app/startup/ProgramWindows.h"

#include "app/shell/Yield.h"
#include "app/window/ApplicationIcon.h"
#include "catalogue/window/Form2.h"
#include "catalogue/window/Form2Controls.h"

#include <QApplication>

namespace veltrane {

ProgramWindows::ProgramWindows(Dialogs& dialogs, SettingsStore& settings,
                               const QString& programFolder)
    : dialogs_(dialogs)
    , form1_(std::make_unique<Form1>(dialogs, settings, programFolder)) {
    // The windows stay alive while a server is awaited, and a close request ends the program.
    YieldWhileServersWait();
    form1_->SetMainWindow(this);
    // The one icon of both windows; the main window's load step takes it from here.
    QApplication::setWindowIcon(ApplicationIcon());
}

// The main window goes first: it reads the profiles from the connection window's fields.
ProgramWindows::~ProgramWindows() {
    form2_.reset();
}

void ProgramWindows::Start() {
    form1_->Start();
}

Form2& ProgramWindows::MainWindow() {
    if (!form2_) {
        form2_ = std::make_unique<Form2>(dialogs_, *form1_);
        form2_->SetConnectionWindow(form1_.get());
    }
    return *form2_;
}

TableList& ProgramWindows::MySQLTableList() {
    return MainWindow().List1();
}

TableList& ProgramWindows::SybaseTableList() {
    return MainWindow().List2();
}

void ProgramWindows::ShowMainWindow() {
    MainWindow().show();
}

} // namespace veltrane
