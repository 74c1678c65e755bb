#include "catalogue/window/Form2Controls.h"

#include <QFocusEvent>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace veltrane {

namespace {
// Steps of the drawn bar per percent.
constexpr int kStepsPerPercent = 100;
// How often a changing bar is drawn at most.
constexpr qint64 kDrawIntervalMs = 40;
// Where an entry keeps its table's owner; entries without it are the login's own tables.
constexpr int kOwnerRole = Qt::UserRole;
constexpr int kLoginsOwnRole = Qt::UserRole + 1;
} // namespace

TableListBox::TableListBox(QWidget* parent)
    : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false); // entries are placed by AddItem, ignoring letter case
    // Entries are measured in slices between events: measuring thousands of them at once
    // after each added batch would freeze the window while a long list fills.
    setLayoutMode(QListView::Batched);
}

QListWidgetItem& TableListBox::Item(int index) const {
    QListWidgetItem* entry = item(index);
    if (entry == nullptr)
        throw std::out_of_range("no list entry at this position");
    return *entry;
}

QString TableListBox::Text(int index) const {
    return Item(index).text();
}

bool TableListBox::IsSelected(int index) const {
    return Item(index).isSelected();
}

void TableListBox::SetSelected(int index, bool selected) {
    Item(index).setSelected(selected);
}

TableOwner TableListBox::Owner(int index) const {
    const QListWidgetItem& entry = Item(index);
    const QVariant loginsOwn = entry.data(kLoginsOwnRole);
    return {entry.data(kOwnerRole).toString(), !loginsOwn.isValid() || loginsOwn.toBool()};
}

void TableListBox::AddEntry(const QString& name, const TableOwner& owner) {
    const bool hadCurrent = currentRow() >= 0;
    auto* entry = new QListWidgetItem(name);
    if (!owner.name.isEmpty() || !owner.loginsOwn) {
        entry->setData(kOwnerRole, owner.name);
        entry->setData(kLoginsOwnRole, owner.loginsOwn);
    }
    insertItem(SortedInsertPosition(*this, name), entry);
    if (!hadCurrent)
        setCurrentRow(-1, QItemSelectionModel::NoUpdate);
}

void TableListBox::RemoveItem(int index) {
    const bool wasCurrent = currentRow() == index;
    delete &Item(index);
    // Qt would move the current entry to a neighbour, which the user never picked.
    if (wasCurrent)
        setCurrentRow(-1, QItemSelectionModel::NoUpdate);
}

void TableListBox::Clear() {
    clear();
}

void TableListBox::focusInEvent(QFocusEvent* event) {
    const bool hadCurrent = currentRow() >= 0;
    QListWidget::focusInEvent(event);
    if (!hadCurrent && event->reason() != Qt::MouseFocusReason)
        setCurrentRow(-1, QItemSelectionModel::NoUpdate);
}

PercentProgressBar::PercentProgressBar(QWidget* parent)
    : QProgressBar(parent) {
    setRange(0, 100 * kStepsPerPercent);
    setValue(0);
}

void PercentProgressBar::SetPercent(double percent) {
    if (!(percent >= 0 && percent <= 100))
        throw std::invalid_argument("progress outside 0 to 100");
    percent_ = percent;
    const int steps = static_cast<int>(std::lround(percent * kStepsPerPercent));
    if (DrawsTheSame(steps))
        return;
    // The toolkit draws the bar at once inside setValue, which costs a transfer more than its
    // rows do: the value is set with drawing held, and the bar is drawn at a window's turn, at
    // most every kDrawInterval, which is as often as an eye can follow it.
    setUpdatesEnabled(false);
    setValue(steps);
    if (drawDue_)
        return;
    drawDue_ = true;
    const qint64 wait =
        sinceDrawn_.isValid() ? std::max<qint64>(0, kDrawIntervalMs - sinceDrawn_.elapsed()) : 0;
    QTimer::singleShot(static_cast<int>(wait), this, &PercentProgressBar::DrawNow);
}

void PercentProgressBar::DrawNow() {
    drawDue_ = false;
    sinceDrawn_.start();
    setUpdatesEnabled(true);
}

bool PercentProgressBar::DrawsTheSame(int steps) const {
    // The toolkit's own test of whether a new value shows measures the bar's text every time,
    // which costs more than a transfer's row; a value that moves the bar by less than a pixel
    // and leaves the whole percent shown as it is waits for one that shows.
    const int shown = value();
    if (steps == shown)
        return true;
    if (steps == minimum() || steps == maximum() ||
        steps / kStepsPerPercent != shown / kStepsPerPercent)
        return false;
    return static_cast<qint64>(std::abs(steps - shown)) * width() < maximum();
}

} // namespace veltrane
