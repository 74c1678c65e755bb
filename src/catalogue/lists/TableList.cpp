#include "catalogue/lists/TableList.h"

namespace veltrane {

QStringList TableList::Texts() const {
    QStringList texts;
    texts.reserve(Count());
    for (int i = 0; i < Count(); ++i)
        texts.append(Text(i));
    return texts;
}

int TableList::SelectedCount() const {
    int selected = 0;
    for (int i = 0; i < Count(); ++i)
        selected += IsSelected(i) ? 1 : 0;
    return selected;
}

bool ListContains(const TableList& list, const QString& text) {
    for (int i = 0; i < list.Count(); ++i) {
        if (list.Text(i).compare(text, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

namespace {

// The entry names the login's own table `text`, spelt exactly so.
bool IsOwnEntry(const TableList& list, int index, const QString& text) {
    return list.Text(index) == text && list.Owner(index).loginsOwn;
}

} // namespace

void RemoveListItem(TableList& list, const QString& text) {
    for (int i = list.Count() - 1; i >= 0; --i) {
        if (IsOwnEntry(list, i, text))
            list.RemoveItem(i);
    }
}

bool ListShowsOwnTable(const TableList& list, const QString& text) {
    for (int i = 0; i < list.Count(); ++i) {
        if (IsOwnEntry(list, i, text))
            return true;
    }
    return false;
}

int SortedInsertPosition(const TableList& list, const QString& name) {
    // The first entry that sorts after `name`.
    int low = 0;
    int high = list.Count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (list.Text(middle).compare(name, Qt::CaseInsensitive) <= 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void MemoryTableList::AddEntry(const QString& name, const TableOwner& owner) {
    const int at = SortedInsertPosition(*this, name);
    entries_.insert(entries_.begin() + at, Entry{name, owner, false});
    if (current_ >= at)
        ++current_;
}

void MemoryTableList::RemoveItem(int index) {
    entries_.erase(entries_.begin() + index);
    if (current_ == index)
        current_ = -1;
    else if (current_ > index)
        --current_;
}

void MemoryTableList::Clear() {
    entries_.clear();
    current_ = -1;
}

} // namespace veltrane
