#include "app/window/QtDialogs.h"

#include <QInputDialog>
#include <QMessageBox>

namespace veltrane {

namespace {
QMessageBox::StandardButton ToButton(MessageAnswer answer) {
    switch (answer) {
    case MessageAnswer::Yes:
        return QMessageBox::Yes;
    case MessageAnswer::No:
        return QMessageBox::No;
    case MessageAnswer::Ok:
        break;
    }
    return QMessageBox::Ok;
}
} // namespace

MessageAnswer QtDialogs::ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                                     MessageButtons buttons, MessageAnswer defaultAnswer) {
    QMessageBox box(icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    caption, text,
                    buttons == MessageButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No)
                                                     : QMessageBox::Ok,
                    parent_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(ToButton(defaultAnswer));
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    default:
        break;
    }
    // Closing a Yes/No box with Escape or the title bar counts as No.
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

QString QtDialogs::InputBox(const QString& caption, const QString& prompt,
                            const QString& initialAnswer) {
    bool ok = false;
    QString answer =
        QInputDialog::getText(parent_, caption, prompt, QLineEdit::Normal, initialAnswer, &ok);
    return ok ? answer : QString();
}

} // namespace veltrane
