#pragma once

#include "app/shell/OperationGuard.h"
#include "connect/ConnectionString.h"

#include <QPointer>
#include <QWidget>
#include <array>

class QGroupBox;
class QPushButton;

namespace veltrane {

class Dialogs;
class LiveProfiles;
class PercentProgressBar;
class TableList;
class TableListBox;
class WindowPointer;

// The main window: the MySQL tables (List1) and the Sybase ASE tables (List2), each in its frame
// with its buttons, the transfer progress, "< Back" and "Help". Handlers keep their numbered
// names because the error report prints them.
class Form2 : public QWidget {
    Q_OBJECT
public:
    // `profiles` is where every handler reads the connection settings at the moment it
    // connects. Runs the load step.
    Form2(Dialogs& dialogs, LiveProfiles& profiles, QWidget* parent = nullptr);
    ~Form2() override;

    // The window "< Back" shows (the connection window); none leaves it alone.
    void SetConnectionWindow(QWidget* window) { connectionWindow_ = window; }

    // What the handlers work with, also for the transfer handlers and the connection window.
    TableListBox& List1() const { return *list1_; } // MySQL tables
    TableListBox& List2() const { return *list2_; } // Sybase ASE tables
    PercentProgressBar& ProgressBar1() const { return *progressBar1_; }
    QGroupBox& Frame1() const { return *frame1_; } // "MySQL Tables"
    QGroupBox& Frame2() const { return *frame2_; } // "Sybase ASE Tables"
    // PushButton1 to PushButton12.
    QPushButton& PushButton(int number) const;
    WindowPointer& Pointer() const { return *pointer_; }
    Dialogs& WindowDialogs() const { return dialogs_; }
    LiveProfiles& Profiles() const { return profiles_; }
    // Held by every long handler; a click that arrives while one runs (during a yield) does
    // nothing.
    OperationGuard& Guard() { return guard_; }

    void Form_Load();
    void PushButton1_Click();  // drop the selected MySQL tables
    void PushButton2_Click();  // "< Back"
    void PushButton3_Click();  // send the selected MySQL tables to Sybase ASE
    void PushButton4_Click();  // send the selected Sybase ASE tables to MySQL
    void PushButton5_Click();  // drop the selected Sybase ASE tables
    void PushButton6_Click();  // rename the selected MySQL table
    void PushButton7_Click();  // "Rename not available."
    void PushButton8_Click();  // select all of List2
    void PushButton9_Click();  // deselect all of List2
    void PushButton10_Click(); // select all of List1
    void PushButton11_Click(); // deselect all of List1
    void PushButton12_Click(); // "Help"

    // The statement numbers of a drop handler from opening the connection on.
    struct DropSteps {
        unsigned open, check, noCurrent, count, isSelected, drop, remove, normalPointer;
    };

protected:
    // Closing the main window ends the whole program.
    void closeEvent(QCloseEvent* event) override;

private:
    // The location tag of a handler's error reports.
    static QString Tag(const char* handler);
    void CreateControls();
    void DropSelectedTables(ServerKind server, const char* handler, const DropSteps& steps);
    void SetAllSelected(TableList& list, bool selected, const char* handler);

    Dialogs& dialogs_;
    LiveProfiles& profiles_;
    QPointer<QWidget> connectionWindow_;
    OperationGuard guard_;
    WindowPointer* pointer_ = nullptr;

    QGroupBox* frame1_ = nullptr;
    QGroupBox* frame2_ = nullptr;
    TableListBox* list1_ = nullptr;
    TableListBox* list2_ = nullptr;
    PercentProgressBar* progressBar1_ = nullptr;
    std::array<QPushButton*, 12> pushButtons_{};
};

// The address the help message names.
inline constexpr const char* kContactPage = "https://www.harnwick.example/contact";

} // namespace veltrane
