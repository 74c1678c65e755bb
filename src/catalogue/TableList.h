#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace veltrane {

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
    // Adds an unselected entry at its sorted place.
    virtual void AddItem(const QString& name) = 0;
    // Removes the entry at `index`; the others keep their order, selection and current entry.
    virtual void RemoveItem(int index) = 0;
    virtual void Clear() = 0;

    QStringList Texts() const;
    int SelectedCount() const;
};

// True when some entry equals `text` ignoring letter case.
bool ListContains(const TableList& list, const QString& text);
// Removes every entry exactly equal to `text`, letter case included.
void RemoveListItem(TableList& list, const QString& text);

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
    void AddItem(const QString& name) override;
    void RemoveItem(int index) override;
    void Clear() override;

private:
    struct Entry {
        QString text;
        bool selected = false;
    };
    std::vector<Entry> entries_;
    int current_ = -1;
};

} // namespace veltrane
