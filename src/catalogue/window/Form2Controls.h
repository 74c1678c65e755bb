#pragma once

#include "catalogue/lists/TableList.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QProgressBar>

namespace veltrane {

// A window list of table names: sorted ignoring letter case, extended selection, and no
// current entry until the user clicks an entry or keys to one.
class TableListBox : public QListWidget, public TableList {
    Q_OBJECT
public:
    explicit TableListBox(QWidget* parent = nullptr);

    int Count() const override { return count(); }
    QString Text(int index) const override;
    bool IsSelected(int index) const override;
    void SetSelected(int index, bool selected) override;
    int CurrentIndex() const override { return currentRow(); }
    TableOwner Owner(int index) const override;
    void AddEntry(const QString& name, const TableOwner& owner) override;
    void RemoveItem(int index) override;
    void Clear() override;

protected:
    // Qt makes the first entry current when a list without one gains the focus; this list
    // keeps "none" until the user picks one.
    void focusInEvent(QFocusEvent* event) override;

private:
    QListWidgetItem& Item(int index) const;
};

// A percentage bar that keeps the exact value it is given (a share of rows such as 33.33...)
// and draws it to a hundredth of a percent, or to the pixel where that is coarser.
class PercentProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit PercentProgressBar(QWidget* parent = nullptr);

    // Throws std::invalid_argument outside 0 to 100, as the toolkit's bar refuses such values.
    void SetPercent(double percent);
    double Percent() const { return percent_; }

private:
    bool DrawsTheSame(int steps) const;
    void DrawNow();

    double percent_ = 0;
    bool drawDue_ = false;
    QElapsedTimer sinceDrawn_;
};

} // namespace veltrane
