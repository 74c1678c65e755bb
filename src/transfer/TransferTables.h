#pragma once

// Copying the selected tables of one server's list to the other server: the two "Send Table/s"
// buttons of the main window. The driver runs on the user-interface thread and reaches the
// window only through TransferWindow, so it runs the same with a window, in tests and in the
// benchmark.

#include "connect/access/ServerKind.h"

#include <string>

namespace veltrane {

class Dialogs;
class ErrorTrap;
class LiveProfiles;
class TableList;

// What a transfer needs from the main window.
class TransferWindow {
public:
    virtual ~TransferWindow() = default;

    virtual TableList& MySQLTables() = 0;  // List1
    virtual TableList& SybaseTables() = 0; // List2
    // ProgressBar1: the share of the current table's rows written, 0 to 100, not rounded.
    virtual void SetProgress(double percent) = 0;
    virtual void SetBusyPointer(bool busy) = 0;
    // Lets pending window events run; called very often, so it must be cheap when nothing is
    // due (see EventYielder).
    virtual void Yield() = 0;
    virtual Dialogs& MessageBoxes() = 0;
    // The connection window's fields as they stand now.
    virtual const LiveProfiles& Profiles() const = 0;
};

// One run of a "Send Table/s" button toward `target`: every selected entry of the source list,
// from the bottom up, is asked about when the target list shows its name, dropped on Yes, read
// whole from the source, created on the target and filled one INSERT per row. Every failure is
// reported through `trap`, the button handler's own, with the step's number and `statement`,
// which the trap shows and the run sets to the statement being built or run; the run goes on.
// A connection that does not open or is lost, or a target that takes no writes, ends the run's
// work after one report, and a target table that fills up ends that table's rows after one
// report, which says how many of them the target holds. The run holds the trap's failure hook
// while it lasts. Nothing escapes to the caller.
void TransferTables(ServerKind target, TransferWindow& window, ErrorTrap& trap,
                    std::string& statement);

} // namespace veltrane
