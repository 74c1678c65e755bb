#pragma once

#include "app/shell/OperationGuard.h"
#include "connect/LiveProfiles.h"
#include "connect/access/ServerKind.h"

#include <QString>
#include <QWidget>
#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace veltrane {

class Dialogs;
class SettingsStore;
class TableList;
class WindowPointer;

// The main window as the Next action reaches it. The first touch of a list creates and loads
// the window.
class MainWindowHandover {
public:
    virtual ~MainWindowHandover() = default;
    virtual TableList& MySQLTableList() = 0;  // List1
    virtual TableList& SybaseTableList() = 0; // List2
    virtual void ShowMainWindow() = 0;
};

// The connection window: the two connection profiles in ten fields, each saved to the settings
// store as it changes, a connection test and a help text per server, and "Next >" to the main
// window. Its fields are the live profiles every operation connects with.
class Form1 : public QWidget, public LiveProfiles {
    Q_OBJECT
public:
    Form1(Dialogs& dialogs, SettingsStore& settings, QString programFolder,
          QWidget* parent = nullptr);
    ~Form1() override;

    void SetMainWindow(MainWindowHandover* mainWindow) { mainWindow_ = mainWindow; }

    // Loads the window and shows it, unless the load has handed over to the main window.
    void Start();
    // The start-up: skin, caption, icon, title, hand pointer, the settings file made owner-only,
    // the ten fields from it, the two silent tests and, when both pass, the Next action.
    void Form_Load();

    void PushButton2_Click(); // Sybase ASE "Test Connection"
    void PushButton3_Click(); // Sybase ASE "Help"
    void PushButton4_Click(); // "Next >"
    void PushButton5_Click(); // MySQL "Help"
    void PushButton6_Click(); // MySQL "Test Connection"

    ConnectionProfile SybaseProfile() const override;
    ConnectionProfile MySQLProfile() const override;

    WindowPointer& Pointer() const { return *pointer_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void SetTabOrder();
    void MarkPointerElements();
    void ConnectHandlers();
    void TestConnection(const QString& handler, ServerKind server);
    void ShowHelp(const QString& handler, const QString& text, unsigned line);
    MainWindowHandover& MainWindow() const;

    Dialogs& dialogs_;
    SettingsStore& settings_;
    QString programFolder_;
    MainWindowHandover* mainWindow_ = nullptr;
    WindowPointer* pointer_ = nullptr;
    OperationGuard guard_;
    bool handedOver_ = false; // the Next action hid this window for the main window

    QGroupBox* Frame2 = nullptr; // "Sybase ASE Database"
    QGroupBox* Frame3 = nullptr; // "MySQL Login"
    // Text1..Text10 in number order; kProfileFields says which profile member each one holds.
    std::array<QLineEdit*, 10> Text{};
    // Label1..Label10 in number order.
    std::array<QLabel*, 10> Label{};
    QPushButton* PushButton2 = nullptr; // Sybase ASE "Test Connection"
    QPushButton* PushButton3 = nullptr; // Sybase ASE "Help"
    QPushButton* PushButton4 = nullptr; // "Next >"
    QPushButton* PushButton5 = nullptr; // MySQL "Help"
    QPushButton* PushButton6 = nullptr; // MySQL "Test Connection"
};

} // namespace veltrane
