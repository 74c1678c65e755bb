#pragma once

#include "connect/window/Form1.h"

#include <QString>
#include <memory>

namespace veltrane {

class Dialogs;
class Form2;
class SettingsStore;

// The program's two windows and the flow between them: the connection window first, the main
// window created and loaded the first time "Next >" touches it. Closing either ends the program.
class ProgramWindows : public MainWindowHandover {
public:
    ProgramWindows(Dialogs& dialogs, SettingsStore& settings, const QString& programFolder);
    ~ProgramWindows() override;

    // The start-up: the connection window loads and shows itself, or hands over at once.
    void Start();

    Form1& ConnectionWindow() { return *form1_; }
    // The main window, or null before "Next >" first reached it.
    Form2* MainWindowIfLoaded() { return form2_.get(); }

    TableList& MySQLTableList() override;
    TableList& SybaseTableList() override;
    void ShowMainWindow() override;

private:
    Form2& MainWindow();

    Dialogs& dialogs_;
    std::unique_ptr<Form1> form1_;
    std::unique_ptr<Form2> form2_;
};

} // namespace veltrane
