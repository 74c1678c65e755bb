#pragma once

#include <QCursor>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace veltrane {

// The three pointer shapes a window can have, with the codes the windows were designed with.
enum class PointerShape { Standard = 0, Busy = 11, Custom = 99 };

// Reads a Windows cursor file: Qt reads the image; the hot spot is the little-endian x and y at
// bytes 10-13 (an icon file has none, so its hot spot is the top-left corner). Throws when the
// file cannot be read or holds no image.
QCursor LoadCursorFile(const QString& path);

// One window's pointer shape and the pointer-move rule of its elements: a move over an element
// marked "standard" or "custom" sets that shape unless the window is busy. The shape belongs to
// the whole window; elements that are not marked leave it as it is.
class WindowPointer : public QObject {
    Q_OBJECT
public:
    explicit WindowPointer(QWidget* window);

    PointerShape Shape() const { return shape_; }
    void SetShape(PointerShape shape);
    bool IsBusy() const { return shape_ == PointerShape::Busy; }

    // The image of the custom shape; without one the custom shape looks like the standard one.
    void SetCustomCursor(const QCursor& cursor);
    bool HasCustomCursor() const { return hasCustom_; }

    // Pointer moves over `element` set the standard or the custom shape.
    void MarkStandard(QWidget* element);
    void MarkCustom(QWidget* element);

    // What a pointer-move handler does: set `shape` unless the window is busy.
    void PointerMoved(PointerShape shape);

    // The cursor the window shows for its current shape.
    QCursor CurrentCursor() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Mark(QWidget* element, PointerShape shape);

    QPointer<QWidget> window_;
    PointerShape shape_ = PointerShape::Standard;
    QCursor custom_;
    bool hasCustom_ = false;
};

// Busy from construction to destruction, for long operations: the window's shape is busy while
// the operation runs and standard afterwards, whichever way the operation ends.
class BusyPointer {
public:
    explicit BusyPointer(WindowPointer& pointer)
        : pointer_(pointer) {
        pointer_.SetShape(PointerShape::Busy);
    }
    ~BusyPointer() { pointer_.SetShape(PointerShape::Standard); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    WindowPointer& pointer_;
};

} // namespace veltrane
