#pragma once

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

namespace veltrane::test {

// A pointer move with no button held, delivered as the window system would deliver it.
inline void MoveOver(QWidget* widget, QPoint at = QPoint(-1, -1)) {
    if (auto* area = qobject_cast<QAbstractScrollArea*>(widget))
        widget = area->viewport();
    const QPoint local = at.x() < 0 ? widget->rect().center() : at;
    QMouseEvent move(QEvent::MouseMove, QPointF(local), QPointF(widget->mapToGlobal(local)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

} // namespace veltrane::test
