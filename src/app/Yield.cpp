#include "app/Yield.h"

#include <QCoreApplication>

namespace veltrane {

void EventYielder::ProcessEvents() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

EventYielder& ProgramYielder() {
    static EventYielder yielder;
    return yielder;
}

} // namespace veltrane
