#pragma once

#include "app/shell/Dialogs.h"

class QWidget;

namespace veltrane {

// The real dialogs: QMessageBox and QInputDialog, modal to the given parent window.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr)
        : parent_(parent) {}

    MessageAnswer ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                              MessageButtons buttons, MessageAnswer defaultAnswer) override;
    QString InputBox(const QString& caption, const QString& prompt,
                     const QString& initialAnswer) override;

private:
    QWidget* parent_;
};

} // namespace veltrane
