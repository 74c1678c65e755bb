#include "transfer/TransferTables.h"

#include "app/shell/Dialogs.h"
#include "app/shell/ErrorTrap.h"
#include "catalogue/lists/TableList.h"
#include "connect/Connection.h"
#include "connect/ConnectionProfile.h"
#include "connect/LiveProfiles.h"
#include "connect/access/DatabaseError.h"
#include "transfer/statements/ColumnTypes.h"
#include "transfer/statements/RowStatements.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veltrane {
namespace {

// The number of each step in the error report ("at line ..."), per target. Steps that cannot
// fail on their own (a loop's next pass, the per-field parts of a statement the builders write
// in one go) keep their numbers here only where a failure can surface.
struct StepNumbers {
    unsigned selectionCheck, selectionMessage, busyPointer;
    unsigned sybaseCursor, sybaseCommandTimeout, sybaseConnectionTimeout, sybaseOpen;
    unsigned mysqlCursor, mysqlCommandTimeout, mysqlConnectionTimeout, mysqlOpen;
    unsigned tableLoop, tableYield; // 0: no yield at the start of a table
    unsigned selectedTest, takeName, targetTest, question;
    unsigned drop, removeFromTarget, select;
    unsigned openCreate, columnLoop, columnYield, columnName, closeCreate, executeCreate;
    unsigned lastRow, rowYield, progress, buildInsert, executeInsert, nextRecord;
    unsigned progressZero, closeRecordset, addToTarget;
    unsigned pointerNormal, closeMySQL, closeSybase;
};

constexpr StepNumbers kToSybase{
    .selectionCheck = 106,
    .selectionMessage = 270,
    .busyPointer = 108,
    .sybaseCursor = 110,
    .sybaseCommandTimeout = 112,
    .sybaseConnectionTimeout = 114,
    .sybaseOpen = 116,
    .mysqlCursor = 118,
    .mysqlCommandTimeout = 120,
    .mysqlConnectionTimeout = 122,
    .mysqlOpen = 124,
    .tableLoop = 126,
    .tableYield = 128,
    .selectedTest = 130,
    .takeName = 132,
    .targetTest = 134,
    .question = 136,
    .drop = 144,
    .removeFromTarget = 146,
    .select = 148,
    .openCreate = 150,
    .columnLoop = 154,
    .columnYield = 156,
    .columnName = 158,
    .closeCreate = 196,
    .executeCreate = 200,
    .lastRow = 208,
    .rowYield = 214,
    .progress = 218,
    .buildInsert = 226,
    .executeInsert = 244,
    .nextRecord = 246,
    .progressZero = 250,
    .closeRecordset = 252,
    .addToTarget = 254,
    .pointerNormal = 268,
    .closeMySQL = 264,
    .closeSybase = 266,
};

constexpr StepNumbers kToMySQL{
    .selectionCheck = 108,
    .selectionMessage = 286,
    .busyPointer = 110,
    .sybaseCursor = 112,
    .sybaseCommandTimeout = 114,
    .sybaseConnectionTimeout = 116,
    .sybaseOpen = 118,
    .mysqlCursor = 120,
    .mysqlCommandTimeout = 122,
    .mysqlConnectionTimeout = 124,
    .mysqlOpen = 126,
    .tableLoop = 128,
    .tableYield = 0,
    .selectedTest = 130,
    .takeName = 132,
    .targetTest = 134,
    .question = 136,
    .drop = 144,
    .removeFromTarget = 146,
    .select = 148,
    .openCreate = 150,
    .columnLoop = 152,
    .columnYield = 154,
    .columnName = 156,
    .closeCreate = 214,
    .executeCreate = 218,
    .lastRow = 226,
    .rowYield = 230,
    .progress = 232,
    .buildInsert = 240,
    .executeInsert = 260,
    .nextRecord = 262,
    .progressZero = 266,
    .closeRecordset = 268,
    .addToTarget = 270,
    .pointerNormal = 280,
    .closeMySQL = 282,
    .closeSybase = 284,
};

constexpr int kTransferTimeoutSeconds = 5000;

// After this failure no later statement of the run would get through either: the connection is
// gone, or the server takes no writes at all.
bool EndsTheRun(const DatabaseError& e) {
    return e.ConnectionLost() || e.Reason() == FailureReason::ReadOnly;
}

// After this failure of an INSERT no later row of the table would arrive either: the run ends,
// or the table takes no more rows.
bool EndsTheTable(const DatabaseError& e) {
    return EndsTheRun(e) || e.Reason() == FailureReason::TargetFull;
}

// One run: its connections, lists, the statement the error report shows, and whether a
// connection has been lost.
class TransferRun {
public:
    TransferRun(ServerKind target, TransferWindow& window, ErrorTrap& trap, std::string& statement)
        : target_(target)
        , window_(window)
        , steps_(target == ServerKind::SybaseASE ? kToSybase : kToMySQL)
        , trap_(trap)
        , currentStatement_(statement)
        , sourceList_(target == ServerKind::SybaseASE ? window.MySQLTables()
                                                      : window.SybaseTables())
        , targetList_(target == ServerKind::SybaseASE ? window.SybaseTables()
                                                      : window.MySQLTables()) {
        // The reports of the steps before the first statement show none.
        currentStatement_.clear();
        trap_.SetFailureHook([this](const std::exception_ptr& failure) { NoteFailure(failure); });
    }
    ~TransferRun() { trap_.SetFailureHook({}); }
    TransferRun(const TransferRun&) = delete;
    TransferRun& operator=(const TransferRun&) = delete;

    void Run() {
        if (trap_.If(steps_.selectionCheck, [&] { return !sourceList_.HasCurrentOrSelected(); })) {
            trap_.Run(steps_.selectionMessage, [&] {
                window_.MessageBoxes().MsgBox(
                    toSybase() ? QStringLiteral("Please select a table")
                               : QStringLiteral("Please select a table to send."));
            });
            return;
        }
        trap_.Run(steps_.busyPointer, [&] { window_.SetBusyPointer(true); });
        const bool opened = OpenConnections();
        if (opened) {
            const int count = trap_.Value(
                steps_.tableLoop, [&] { return sourceList_.Count(); }, 0);
            for (int index = count - 1; index >= 0 && !lost_; --index)
                TransferEntry(index);
        }
        EndOfRun();
    }

private:
    bool toSybase() const { return target_ == ServerKind::SybaseASE; }
    Connection& SourceConnection() { return toSybase() ? mysql_ : sybase_; }
    Connection& TargetConnection() { return toSybase() ? sybase_ : mysql_; }

    // Every failure of a step is reported and the run goes on; a lost connection or a target
    // that takes no writes at all is noted here, before its report, so that the run stops its
    // work after this one report.
    void NoteFailure(const std::exception_ptr& failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const DatabaseError& e) {
            lost_ = lost_ || EndsTheRun(e);
        } catch (...) {
        }
    }

    void Yield(unsigned line) {
        if (line != 0)
            trap_.Run(line, [&] { window_.Yield(); });
    }

    bool OpenOne(Connection& connection, bool isSource, unsigned cursor, unsigned commandTimeout,
                 unsigned connectionTimeout, unsigned open, const QString& connectionString) {
        trap_.Run(cursor, [&] {
            connection.SetCursorLocation(isSource ? CursorLocation::Client
                                                  : CursorLocation::Server);
        });
        trap_.Run(commandTimeout, [&] { connection.SetCommandTimeout(kTransferTimeoutSeconds); });
        trap_.Run(connectionTimeout,
                  [&] { connection.SetConnectionTimeout(kTransferTimeoutSeconds); });
        if (isSource) {
            // The source table is read whole before its first row is written; the window keeps
            // breathing while the rows arrive.
            connection.SetRowReadCallback([this] { window_.Yield(); });
        }
        return trap_.Run(open, [&] { connection.Open(connectionString.toStdString()); });
    }

    // Sybase ASE first, then MySQL, whichever is the source. Both are tried, each failure
    // reported once; without both there is nothing to copy.
    bool OpenConnections() {
        const LiveProfiles& profiles = window_.Profiles();
        const bool sybaseOpen =
            OpenOne(sybase_, !toSybase(), steps_.sybaseCursor, steps_.sybaseCommandTimeout,
                    steps_.sybaseConnectionTimeout, steps_.sybaseOpen,
                    SybaseConnectionString(profiles.SybaseProfile()));
        const bool mysqlOpen =
            OpenOne(mysql_, toSybase(), steps_.mysqlCursor, steps_.mysqlCommandTimeout,
                    steps_.mysqlConnectionTimeout, steps_.mysqlOpen,
                    MySQLConnectionString(profiles.MySQLProfile()));
        lost_ = false; // a connection that did not open is not a lost one, but ends the work too
        return sybaseOpen && mysqlOpen;
    }

    // The target list shows the table as it was created: its name as the source spells it,
    // which is the name the server knows it by.
    void AddToTarget(const QString& name) {
        trap_.Run(steps_.addToTarget, [&] {
            // The entry is still there when its table could not be dropped.
            if (!ListShowsOwnTable(targetList_, name))
                targetList_.AddItem(name);
        });
    }

    void TransferEntry(int index) {
        if (toSybase())
            Yield(steps_.tableYield);
        if (!trap_.If(steps_.selectedTest, [&] { return sourceList_.IsSelected(index); }))
            return;
        QString name;
        TableOwner owner;
        if (!trap_.Run(steps_.takeName, [&] {
                name = sourceList_.Text(index);
                owner = sourceList_.Owner(index);
                if (toSybase())
                    RefuseDottedName(name.toStdString(), "table name " + name.toStdString());
            }))
            return;

        bool askedAndAnsweredNo = false;
        bool dropIt = false;
        if (trap_.If(steps_.targetTest, [&] { return ListContains(targetList_, name); })) {
            trap_.Run(steps_.question, [&] {
                const bool yes = window_.MessageBoxes().AskOverwrite(
                    QStringLiteral("Would you like to overwrite ") + name + QStringLiteral("?"));
                askedAndAnsweredNo = !yes;
                dropIt = yes;
            });
        }
        if (askedAndAnsweredNo)
            return;
        const std::string table = name.toStdString();

        // The source is read, and its columns checked, before the target table is dropped on
        // Yes: a table that cannot be copied leaves the target's table as it was.
        std::unique_ptr<ResultSet> rows;
        const bool selected = trap_.Run(steps_.select, [&] {
            const std::string select =
                "SELECT * FROM " + (toSybase()
                                        ? QuoteMySQLIdentifier(table)
                                        : QuoteSybaseTableName(owner.name.toStdString(), table));
            rows = SourceConnection().Execute(select);
            if (!rows)
                throw DatabaseError("The SELECT returned no rows.", 0, select);
        });
        if (!selected)
            return;

        const TableOutcome outcome = CreateTarget(*rows, name, dropIt);
        if (outcome == TableOutcome::Created)
            CopyRows(*rows, table);
        if (outcome != TableOutcome::NotThere)
            AddToTarget(name);
        trap_.Run(steps_.closeRecordset, [&] { rows->Close(); });
    }

    // Sybase ASE refuses a '.' inside a bracketed name, and one that reads such a name as owner
    // and table would reach another table; the table is not copied at all.
    static void RefuseDottedName(const std::string& name, const std::string& what) {
        if (!SybaseAllowsName(name))
            throw DatabaseError("The " + what +
                                " holds a '.', which Sybase ASE does not allow inside a name; "
                                "the table is not copied.");
    }

    // DROP TABLE on Yes: the login's own table, the one the CREATE TABLE would meet, named bare.
    // Its entry goes only when the table is gone from the server; another owner's table of the
    // same name is not touched and its entry stays.
    void DropTarget(const QString& name, const std::string& table) {
        bool gone = false;
        trap_.Run(steps_.drop, [&] {
            try {
                TargetConnection().Execute("DROP TABLE " + QuoteTargetIdentifier(target_, table));
                gone = true;
            } catch (const DatabaseError& e) {
                gone = e.Reason() == FailureReason::NoSuchTable;
                throw;
            }
        });
        if (gone)
            trap_.Run(steps_.removeFromTarget, [&] { RemoveListItem(targetList_, name); });
    }

    enum class TableOutcome { Created, AlreadyThere, NotThere };

    // CREATE TABLE from the source's fields, with the drop of the old table on Yes between
    // building and running it. A table that could not be created is not filled: whatever
    // stands there under that name is not the user's to mix rows into.
    TableOutcome CreateTarget(const ResultSet& rows, const QString& name, bool dropFirst) {
        const std::string table = name.toStdString();
        trap_.Run(steps_.openCreate, [&] {
            currentStatement_ = "CREATE TABLE ";
            AppendTargetIdentifier(currentStatement_, target_, table);
            currentStatement_.push_back('(');
        });
        std::vector<FieldInfo> columns;
        const int fieldCount = trap_.Value(
            steps_.columnLoop, [&] { return rows.FieldCount(); }, 0);
        for (int i = 0; i < fieldCount; ++i) {
            Yield(steps_.columnYield);
            bool refused = false;
            trap_.Run(steps_.columnName, [&] {
                const FieldInfo& field = rows.Field(i);
                if (toSybase()) {
                    refused = !SybaseAllowsName(field.name);
                    RefuseDottedName(field.name,
                                     "column name " + field.name + " of table " + table);
                }
                columns.push_back(field);
            });
            if (refused)
                return TableOutcome::NotThere;
        }
        if (!trap_.Run(steps_.closeCreate,
                       [&] { currentStatement_ = CreateTableStatement(target_, table, columns); }))
            return TableOutcome::NotThere;
        if (dropFirst) {
            DropTarget(name, table);
            if (lost_)
                return TableOutcome::NotThere;
        }
        TableOutcome outcome = TableOutcome::NotThere;
        trap_.Run(steps_.executeCreate, [&] {
            try {
                TargetConnection().Execute(currentStatement_);
                outcome = TableOutcome::Created;
            } catch (const DatabaseError& e) {
                if (e.Reason() == FailureReason::TableExists)
                    outcome = TableOutcome::AlreadyThere;
                throw;
            }
        });
        return outcome;
    }

    void CopyRows(ResultSet& rows, const std::string& table) {
        std::int64_t lastRow = -1;
        const bool counted = trap_.Run(steps_.lastRow, [&] {
            const std::int64_t count = rows.RecordCount();
            if (count < 0)
                throw DatabaseError("The number of rows of the source table is not known.");
            lastRow = count - 1;
        });
        if (counted) {
            std::int64_t written = 0;
            bool tableEnded = false;
            InsertRowBuilder insert(target_, table);
            const std::function<void()> beforeField = [this] { window_.Yield(); };
            const double rowCount = static_cast<double>(lastRow + 1);
            for (std::int64_t row = 0; row <= lastRow && !lost_ && !rows.IsEOF(); ++row) {
                Yield(steps_.rowYield);
                trap_.Run(steps_.progress, [&] {
                    window_.SetProgress(static_cast<double>(row + 1) / rowCount * 100.0);
                });
                // A row whose statement could not be written whole is not sent at all.
                if (trap_.Run(steps_.buildInsert,
                              [&] { insert.BuildInto(currentStatement_, rows, beforeField); })) {
                    trap_.Run(steps_.executeInsert, [&] {
                        try {
                            TargetConnection().Execute(currentStatement_);
                            ++written;
                        } catch (const DatabaseError& e) {
                            // One report, saying what the target now holds, instead of one
                            // per remaining row.
                            if (!EndsTheTable(e))
                                throw;
                            tableEnded = true;
                            throw DatabaseError(
                                e.Message() + "\n" +
                                    Incomplete(table, written, lastRow + 1, e.ConnectionLost()),
                                e.NativeError(), e.Statement(), e.Reason());
                        }
                    });
                    if (tableEnded)
                        break;
                }
                // Past a row that cannot be left, the next pass would copy it again.
                if (!trap_.Run(steps_.nextRecord, [&] { rows.MoveNext(); }))
                    break;
            }
        }
        trap_.Run(steps_.progressZero, [&] { window_.SetProgress(0); });
    }

    // When the connection is lost, the server may have committed the INSERT in flight before
    // its answer was lost: that row is neither counted nor ruled out.
    static std::string Incomplete(const std::string& table, std::int64_t written,
                                  std::int64_t count, bool connectionLost) {
        std::string text = "The copy of table " + table +
                           " is incomplete: " + std::to_string(written) + " of its " +
                           std::to_string(count) + " rows were written";
        if (connectionLost)
            text += ", and the row that was being sent when the connection was lost may have "
                    "been written too";
        return text + ".";
    }

    void EndOfRun() {
        const auto pointerNormal = [&] {
            trap_.Run(steps_.pointerNormal, [&] { window_.SetBusyPointer(false); });
        };
        if (!toSybase())
            pointerNormal();
        trap_.Run(steps_.closeMySQL, [&] { mysql_.Close(); });
        trap_.Run(steps_.closeSybase, [&] { sybase_.Close(); });
        if (toSybase())
            pointerNormal();
    }

    ServerKind target_;
    TransferWindow& window_;
    const StepNumbers& steps_;
    ErrorTrap& trap_;
    // The trap shows it in every report.
    std::string& currentStatement_;
    TableList& sourceList_;
    TableList& targetList_;
    Connection sybase_;
    Connection mysql_;
    bool lost_ = false;
};

} // namespace

void TransferTables(ServerKind target, TransferWindow& window, ErrorTrap& trap,
                    std::string& statement) {
    TransferRun run(target, window, trap, statement);
    run.Run();
}

} // namespace veltrane
