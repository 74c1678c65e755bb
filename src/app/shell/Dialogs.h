#pragma once

#include <QString>
#include <deque>
#include <vector>

namespace veltrane {

enum class MessageIcon { None, Exclamation };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// Every message box, question and input box of the program goes through this interface, so the
// windows never block a test and the captions and buttons live in one place.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal box; returns the button the user pressed. `defaultAnswer` is the button that
    // Enter presses.
    virtual MessageAnswer ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                                      MessageButtons buttons, MessageAnswer defaultAnswer) = 0;
    // A modal input prompt. Cancel yields the empty text.
    virtual QString InputBox(const QString& caption, const QString& prompt,
                             const QString& initialAnswer) = 0;

    // OK only, no icon, the application title as caption.
    void MsgBox(const QString& text);
    // The error report box: OK only, exclamation icon, caption "Application Error".
    void ErrorBox(const QString& text);
    // The transfer's overwrite question: Yes and No, Yes the default, no icon, caption
    // "Overwrite?". True for Yes.
    bool AskOverwrite(const QString& text);
    // An input prompt captioned with the application title.
    QString AskText(const QString& prompt, const QString& initialAnswer);
};

// Records what was shown and answers from a queue, for tests. With the queue empty it answers
// with the box's default button (or, for input boxes, the initial answer), so nothing waits.
class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        QString caption;
        QString text;
        MessageIcon icon = MessageIcon::None;
        MessageButtons buttons = MessageButtons::Ok;
        MessageAnswer defaultAnswer = MessageAnswer::Ok;
        bool isInput = false;
        QString initialAnswer; // input boxes only
    };

    void QueueAnswer(MessageAnswer answer) { answers_.push_back(answer); }
    void QueueInput(const QString& text) { inputs_.push_back(text); }

    const std::vector<Shown>& shown() const { return shown_; }
    // The texts of the boxes shown so far, in order.
    std::vector<QString> texts() const;
    void clear() { shown_.clear(); }

    MessageAnswer ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                              MessageButtons buttons, MessageAnswer defaultAnswer) override;
    QString InputBox(const QString& caption, const QString& prompt,
                     const QString& initialAnswer) override;

private:
    std::vector<Shown> shown_;
    std::deque<MessageAnswer> answers_;
    std::deque<QString> inputs_;
};

} // namespace veltrane
