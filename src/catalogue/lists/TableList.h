#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace veltrane {

// Who owns the table of a list entry. Sybase ASE lists a table once per owner and the list
// shows only the bare name, so each entry keeps its owner out of sight, and the statements for
// it name that owner's table. An entry whose owner is not known (one that a transfer created,
// every MySQL entry) is the login's own table and is named bare.
struct TableOwner {
    QString name;          // empty when not known
    bool loginsOwn = true; // the table a bare name and a bare CREATE TABLE of the login reach
};

// A list of table names as the main window shows them: entries kept in alphabetical order
// ignoring letter case (an added entry takes its sorted place), each with a selected flag, and
// an optional current entry (-1 when the user has not clicked or keyed to one yet).
// The window's two lists implement it; the catalogue, the drop and rename handlers and the
// transfer work on this interface only.
class TableList {
public:
    virtual ~TableList() = default;

    virtual int Count() const = 0;
    virtual QString Text(int index) const = 0;
    virtual bool IsSelected(int index) const = 0;
    virtual void SetSelected(int index, bool selected) = 0;
    virtual int CurrentIndex() const = 0;
    virtual TableOwner Owner(int index) const = 0;
    // Adds an unselected entry at its sorted place.
    virtual void AddEntry(const QString& name, const TableOwner& owner) = 0;
    // An entry of the login's own table.
    void AddItem(const QString& name) { AddEntry(name, TableOwner{}); }
    // Removes the entry at `index`; the others keep their order, selection and current entry.
    virtual void RemoveItem(int index) = 0;
    virtual void Clear() = 0;

    QStringList Texts() const;
    int SelectedCount() const;
    // What the buttons that work on the selection require: an entry the user picked, or at
    // least one selected entry (Select All leaves no current entry).
    bool HasCurrentOrSelected() const { return CurrentIndex() >= 0 || SelectedCount() > 0; }
};

// True when some entry equals `text` ignoring letter case, whoever owns its table.
bool ListContains(const TableList& list, const QString& text);
// Removes every entry of the login's own tables exactly equal to `text`, letter case
// included; entries of other owners' tables of that name stay.
void RemoveListItem(TableList& list, const QString& text);
// True when an entry of the login's own tables is exactly `text`.
bool ListShowsOwnTable(const TableList& list, const QString& text);

// Where a name goes in a list sorted ignoring letter case: after every entry that sorts before
// it or equal to it, so equal names keep the order in which they were added. A binary search,
// so that filling a list of thousands of tables stays fast.
int SortedInsertPosition(const TableList& list, const QString& name);

// A table list without a window, for logic that runs without one and for tests.
class MemoryTableList : public TableList {
public:
    int Count() const override { return static_cast<int>(entries_.size()); }
    QString Text(int index) const override { return entries_.at(index).text; }
    bool IsSelected(int index) const override { return entries_.at(index).selected; }
    void SetSelected(int index, bool selected) override { entries_.at(index).selected = selected; }
    int CurrentIndex() const override { return current_; }
    void SetCurrentIndex(int index) { current_ = index; }
    TableOwner Owner(int index) const override { return entries_.at(index).owner; }
    void AddEntry(const QString& name, const TableOwner& owner) override;
    void RemoveItem(int index) override;
    void Clear() override;

private:
    struct Entry {
        QString text;
        TableOwner owner;
        bool selected = false;
    };
    std::vector<Entry> entries_;
    int current_ = -1;
};

} // namespace veltrane
