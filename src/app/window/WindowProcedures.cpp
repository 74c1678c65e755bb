#include "app/window/WindowProcedures.h"

#include "app/shell/ProgramFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>
#include <stdexcept>

namespace veltrane {

namespace {
void SetBackColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

std::runtime_error SkinError(const QString& path, const QString& reason) {
    const QString text =
        QStringLiteral("Cannot read the skin file ") + path + QStringLiteral(": ") + reason;
    return std::runtime_error(text.toStdString());
}

bool IsPlainControl(const QWidget* widget) {
    return qobject_cast<const QRadioButton*>(widget) || qobject_cast<const QCheckBox*>(widget) ||
           qobject_cast<const QGroupBox*>(widget) || qobject_cast<const QLabel*>(widget);
}
} // namespace

QFont BoldArial(qreal points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

QColor ButtonFaceColor() {
    return QApplication::palette().color(QPalette::Button);
}

void ResetBackColors(QWidget* window) {
    const QColor face = ButtonFaceColor();
    SetBackColor(window, face);
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (IsPlainControl(child))
            SetBackColor(child, face);
    }
}

void ApplySkin(QWidget* connectionWindow, const QString& programFolder) {
    const QString path = SkinFilePath(programFolder);
    if (!QFileInfo(path).isFile())
        return;
    ResetBackColors(connectionWindow);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SkinError(path, file.errorString());
    const QByteArray sheet = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw SkinError(path, file.errorString());
    connectionWindow->setStyleSheet(QString::fromUtf8(sheet));
}

} // namespace veltrane
