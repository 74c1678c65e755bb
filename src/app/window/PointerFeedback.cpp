#include "app/window/PointerFeedback.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>
#include <stdexcept>

namespace veltrane {

namespace {
const char* kShapeProperty = "veltranePointerShape";

std::runtime_error CursorError(const QString& path, const QString& reason) {
    const QString text =
        QStringLiteral("Cannot load the cursor file ") + path + QStringLiteral(": ") + reason;
    return std::runtime_error(text.toStdString());
}

quint16 LittleEndian16(const QByteArray& bytes, int at) {
    return static_cast<quint16>(static_cast<quint8>(bytes[at]) |
                                (static_cast<quint8>(bytes[at + 1]) << 8));
}
} // namespace

QCursor LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CursorError(path, file.errorString());
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 22)
        throw CursorError(path, QStringLiteral("the file is too short"));
    const quint16 type = LittleEndian16(bytes, 2);
    if (LittleEndian16(bytes, 0) != 0 || (type != 1 && type != 2))
        throw CursorError(path, QStringLiteral("not a cursor or icon file"));
    // Qt's icon reader takes cursor files when they are labelled as icons: the header differs
    // only in the type field, and the two words at 10-13 are the hot spot in a cursor file.
    QByteArray asIcon = bytes;
    asIcon[2] = 1;
    QImage image = QImage::fromData(asIcon, "ICO");
    if (image.isNull())
        throw CursorError(path, QStringLiteral("no image in the file"));
    int hotX = 0;
    int hotY = 0;
    if (type == 2) {
        hotX = LittleEndian16(bytes, 10);
        hotY = LittleEndian16(bytes, 12);
    }
    hotX = qBound(0, hotX, image.width() - 1);
    hotY = qBound(0, hotY, image.height() - 1);
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

WindowPointer::WindowPointer(QWidget* window)
    : QObject(window)
    , window_(window) {
    SetShape(PointerShape::Standard);
}

void WindowPointer::SetShape(PointerShape shape) {
    shape_ = shape;
    if (window_)
        window_->setCursor(CurrentCursor());
}

void WindowPointer::SetCustomCursor(const QCursor& cursor) {
    custom_ = cursor;
    hasCustom_ = true;
    if (shape_ == PointerShape::Custom)
        SetShape(shape_);
}

QCursor WindowPointer::CurrentCursor() const {
    switch (shape_) {
    case PointerShape::Busy:
        return QCursor(Qt::WaitCursor);
    case PointerShape::Custom:
        return hasCustom_ ? custom_ : QCursor(Qt::ArrowCursor);
    case PointerShape::Standard:
        break;
    }
    return QCursor(Qt::ArrowCursor);
}

void WindowPointer::MarkStandard(QWidget* element) {
    Mark(element, PointerShape::Standard);
}

void WindowPointer::MarkCustom(QWidget* element) {
    Mark(element, PointerShape::Custom);
}

void WindowPointer::Mark(QWidget* element, PointerShape shape) {
    QWidget* target = element;
    // Moves over a list arrive at its viewport.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(element))
        target = area->viewport();
    target->setProperty(kShapeProperty, static_cast<int>(shape));
    target->setMouseTracking(true);
    target->installEventFilter(this);
}

void WindowPointer::PointerMoved(PointerShape shape) {
    if (!IsBusy())
        SetShape(shape);
}

bool WindowPointer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        auto* widget = static_cast<QWidget*>(watched);
        auto* move = static_cast<QMouseEvent*>(event);
        // A move that Qt passed up from an element under the pointer belongs to that element:
        // a label in a frame keeps the hand, exactly as if the frame had not been touched.
        if (widget->childAt(move->position().toPoint()) == nullptr) {
            const QVariant shape = widget->property(kShapeProperty);
            if (shape.isValid())
                PointerMoved(static_cast<PointerShape>(shape.toInt()));
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace veltrane
