#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace veltrane {

class Dialogs;

inline const QString kSupportAddress = QStringLiteral("support@harnwick.example");
inline const QString kTagPrefix = QStringLiteral("Brackwater2017/04/05.");

// The full location tag of a window's handler, e.g. "Brackwater2017/04/05.Form1.Form_Load".
QString LocationTag(const QString& window, const QString& handler);

// The text of the "Application Error" box. `sql` is given for the two transfer handlers only.
QString ComposeErrorReport(const QString& description, const QString& tag, unsigned line,
                           const std::optional<QString>& sql = std::nullopt);

// A statement as the error report shows it: its first `keep` characters, and when it is longer,
// "..." and how many characters were left out; a message box with a statement of many
// megabytes would take the program minutes to lay out. Malformed UTF-8 is shown replaced.
inline constexpr std::size_t kShownStatementCharacters = 4000;
QString AbbreviatedStatement(std::string_view utf8, std::size_t keep = kShownStatementCharacters);

// The failure description of an exception as the user sees it.
QString FailureDescription(std::exception_ptr failure);

// The failure trap that every button handler and load step arms first. Each numbered statement
// runs through it; a failure shows one "Application Error" box naming the statement's number and
// the handler then goes on with the next statement. Nothing ever escapes to the event loop.
// A failure inside a called procedure is reported at the number of the calling statement,
// because the procedure simply throws and the trap catches at the statement.
//
//     ErrorTrap trap(LocationTag("Form1", "PushButton6_Click"), dialogs_);
//     trap.Run(100, [&] { pointer_.SetShape(PointerShape::Busy); });
//     if (trap.If(102, [&] { return TestMySQLConnection(profile); }))
//         trap.Run(104, [&] { dialogs_.MsgBox("..."); });
//     trap.Run(106, [&] { pointer_.SetShape(PointerShape::Standard); });
class ErrorTrap {
public:
    ErrorTrap(QString tag, Dialogs& dialogs);
    // For the transfer handlers: the report ends with "sql: " and the statement text at the
    // moment of the failure.
    ErrorTrap(QString tag, Dialogs& dialogs, const std::string& currentSql);

    // A plain statement. True when it completed; after a failure its result is not produced.
    template <class F> bool Run(unsigned line, F&& statement) {
        try {
            std::forward<F>(statement)();
            return true;
        } catch (...) {
            Report(line, std::current_exception());
            return false;
        }
    }

    // The test of a conditional step: true when the guarded statements are to run, which is when
    // the test held or failed; false only when it evaluated to false.
    template <class F> bool If(unsigned line, F&& test) {
        try {
            return static_cast<bool>(std::forward<F>(test)());
        } catch (...) {
            Report(line, std::current_exception());
            return true;
        }
    }

    // A statement that yields a value, e.g. a loop bound. On failure the value is `fallback`,
    // which is how a handler whose loop head fails says with which bound the body goes on.
    template <class T, class F> T Value(unsigned line, F&& expression, T fallback) {
        try {
            return std::forward<F>(expression)();
        } catch (...) {
            Report(line, std::current_exception());
            return fallback;
        }
    }

    // A counted loop `for i = first to last` whose head is statement `line`. When the head
    // fails, the body still runs with `boundsOnFailure`, if given, or not at all. A failure in
    // the body is the body's statements' business (they run through this trap themselves).
    template <class Bounds, class Body>
    void For(unsigned line, Bounds&& bounds, Body&& body,
             std::optional<std::pair<long long, long long>> boundsOnFailure = std::nullopt) {
        std::optional<std::pair<long long, long long>> range;
        try {
            range = std::forward<Bounds>(bounds)();
        } catch (...) {
            Report(line, std::current_exception());
            range = boundsOnFailure;
        }
        if (!range)
            return;
        for (long long i = range->first; i <= range->second; ++i)
            body(i);
    }

    // Shows the box for one failure at statement `line`.
    void Report(unsigned line, std::exception_ptr failure);

    // Called with every failure before its box is shown: an operation that stops its work after
    // some failures notes them here, whichever statement they come from. Empty: none.
    using FailureHook = std::function<void(const std::exception_ptr&)>;
    void SetFailureHook(FailureHook hook) { failureHook_ = std::move(hook); }

    const QString& tag() const { return tag_; }

private:
    QString tag_;
    Dialogs& dialogs_;
    const std::string* currentSql_ = nullptr;
    FailureHook failureHook_;
};

} // namespace veltrane
