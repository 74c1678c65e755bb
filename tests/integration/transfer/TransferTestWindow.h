// The main window as the transfer driver sees it, with lists and dialogs that need no window:
// shared by the tests that run "Send Table/s" against the test servers.
#pragma once

#include "TransferTestTables.h"
#include "app/shell/Dialogs.h"
#include "app/shell/ErrorTrap.h"
#include "catalogue/lists/TableList.h"
#include "connect/LiveProfiles.h"
#include "transfer/TransferTables.h"

#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace veltrane::testing {

// Records what a run does to the window.
class RecordingWindow : public TransferWindow {
public:
    MemoryTableList list1; // MySQL
    MemoryTableList list2; // Sybase ASE
    ScriptedDialogs dialogs;
    FixedProfiles profiles;
    std::vector<double> progress;
    std::vector<bool> busy;
    std::function<void(double)> onProgress;

    TableList& MySQLTables() override { return list1; }
    TableList& SybaseTables() override { return list2; }
    void SetProgress(double percent) override {
        progress.push_back(percent);
        if (onProgress)
            onProgress(percent);
    }
    void SetBusyPointer(bool on) override { busy.push_back(on); }
    void Yield() override {}
    Dialogs& MessageBoxes() override { return dialogs; }
    const LiveProfiles& Profiles() const override { return profiles; }

    std::vector<QString> ErrorReports() const { return Shown(QStringLiteral("Application Error")); }
    std::vector<QString> Questions() const { return Shown(QStringLiteral("Overwrite?")); }

private:
    std::vector<QString> Shown(const QString& caption) const {
        std::vector<QString> out;
        for (const auto& shown : dialogs.shown())
            if (shown.caption == caption)
                out.push_back(shown.text);
        return out;
    }
};

// One run of the "Send Table/s" button toward `target`, reported under that button's handler
// as the main window reports it.
inline void RunTransfer(ServerKind target, RecordingWindow& window) {
    std::string statement;
    ErrorTrap trap(LocationTag(QStringLiteral("Form2"), target == ServerKind::SybaseASE
                                                            ? QStringLiteral("PushButton3_Click")
                                                            : QStringLiteral("PushButton4_Click")),
                   window.dialogs, statement);
    TransferTables(target, window, trap, statement);
}

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Adds the names to `list`, selects those marked, and makes the first entry current.
inline void Fill(MemoryTableList& list,
                 std::initializer_list<std::pair<std::string, bool>> entries) {
    for (const auto& [name, selected] : entries)
        list.AddItem(Q(name));
    for (const auto& [name, selected] : entries)
        for (int i = 0; i < list.Count(); ++i)
            if (list.Text(i) == Q(name))
                list.SetSelected(i, selected);
    list.SetCurrentIndex(0);
}

// The texts of message boxes, for a failure message.
inline std::string Printed(const std::vector<QString>& texts) {
    std::string out;
    for (const QString& t : texts)
        out += "\n---\n" + t.left(600).toStdString();
    return out;
}

// Tests of runs between the two test servers, with a window whose profiles lead to them.
template <class Param> class TransferServersTest : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        VELTRANE_REQUIRE_MYSQL(mysql);
        VELTRANE_REQUIRE_SYBASE(sybase);
        mysqlAt_ = mysql;
        sybaseAt_ = sybase;
        window_.profiles.mysql = mysql.Profile();
        window_.profiles.sybase = sybase.Profile();
    }
    const ServerCoordinates& At(Server s) const {
        return s == Server::MySQL ? mysqlAt_ : sybaseAt_;
    }

    ServerCoordinates mysqlAt_, sybaseAt_;
    RecordingWindow window_;
};

} // namespace veltrane::testing
