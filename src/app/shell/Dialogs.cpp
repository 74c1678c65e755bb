#include "app/shell/Dialogs.h"

#include "app/shell/ApplicationTitle.h"

namespace veltrane {

void Dialogs::MsgBox(const QString& text) {
    ShowMessage(ApplicationTitle(), text, MessageIcon::None, MessageButtons::Ok, MessageAnswer::Ok);
}

void Dialogs::ErrorBox(const QString& text) {
    ShowMessage(QStringLiteral("Application Error"), text, MessageIcon::Exclamation,
                MessageButtons::Ok, MessageAnswer::Ok);
}

bool Dialogs::AskOverwrite(const QString& text) {
    return ShowMessage(QStringLiteral("Overwrite?"), text, MessageIcon::None, MessageButtons::YesNo,
                       MessageAnswer::Yes) == MessageAnswer::Yes;
}

QString Dialogs::AskText(const QString& prompt, const QString& initialAnswer) {
    return InputBox(ApplicationTitle(), prompt, initialAnswer);
}

std::vector<QString> ScriptedDialogs::texts() const {
    std::vector<QString> out;
    out.reserve(shown_.size());
    for (const Shown& s : shown_)
        out.push_back(s.text);
    return out;
}

MessageAnswer ScriptedDialogs::ShowMessage(const QString& caption, const QString& text,
                                           MessageIcon icon, MessageButtons buttons,
                                           MessageAnswer defaultAnswer) {
    shown_.push_back({caption, text, icon, buttons, defaultAnswer, false, {}});
    if (answers_.empty())
        return defaultAnswer;
    const MessageAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

QString ScriptedDialogs::InputBox(const QString& caption, const QString& prompt,
                                  const QString& initialAnswer) {
    shown_.push_back({caption, prompt, MessageIcon::None, MessageButtons::Ok, MessageAnswer::Ok,
                      true, initialAnswer});
    if (inputs_.empty())
        return initialAnswer;
    QString answer = inputs_.front();
    inputs_.pop_front();
    return answer;
}

} // namespace veltrane
