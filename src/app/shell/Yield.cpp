#include "app/shell/Yield.h"

#include "connect/access/ServerWait.h"

#include <QCoreApplication>

namespace veltrane {

void EventYielder::YieldNow() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Measured after the events ran, so a slow repaint does not make the next call due at once.
    last_ = CoarseNanos();
}

EventYielder& ProgramYielder() {
    static EventYielder yielder;
    return yielder;
}

void YieldWhileServersWait() {
    SetServerWaitTurn([] { ProgramYielder().Yield(); });
}

} // namespace veltrane
