#include "app/shell/ErrorTrap.h"

#include "app/shell/Dialogs.h"
#include "connect/access/DatabaseError.h"

#include <algorithm>
#include <stdexcept>

namespace veltrane {

QString LocationTag(const QString& window, const QString& handler) {
    return kTagPrefix + window + QLatin1Char('.') + handler;
}

QString ComposeErrorReport(const QString& description, const QString& tag, unsigned line,
                           const std::optional<QString>& sql) {
    QString text = description + QStringLiteral("\r\n") + QStringLiteral("in ") + tag +
                   QStringLiteral(" at line ") + QString::number(line) + QStringLiteral("\r\r") +
                   QStringLiteral("Please email screenshot of this message to ") + kSupportAddress;
    if (sql)
        text += QStringLiteral("\r\rsql: ") + *sql;
    return text;
}

QString AbbreviatedStatement(std::string_view utf8, std::size_t keep) {
    // Characters are counted as code points: every byte that does not continue a sequence.
    const auto starts = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; };
    std::size_t characters = 0;
    std::size_t cut = utf8.size();
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (starts(utf8[i]) && characters++ == keep) {
            cut = i;
            break;
        }
    }
    const QString shown = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(cut));
    if (cut == utf8.size())
        return shown;
    const auto rest = utf8.substr(cut);
    const auto left = static_cast<qlonglong>(std::count_if(rest.begin(), rest.end(), starts));
    return shown + QStringLiteral("... (") + QString::number(left) +
           QStringLiteral(" characters left out)");
}

QString FailureDescription(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const DatabaseError& e) {
        return QString::fromUtf8(e.what());
    } catch (const std::invalid_argument&) {
        return QStringLiteral("Invalid procedure call or argument");
    } catch (const std::out_of_range&) {
        return QStringLiteral("Invalid procedure call or argument");
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unexpected failure");
    }
}

ErrorTrap::ErrorTrap(QString tag, Dialogs& dialogs)
    : tag_(std::move(tag))
    , dialogs_(dialogs) {}

ErrorTrap::ErrorTrap(QString tag, Dialogs& dialogs, const std::string& currentSql)
    : tag_(std::move(tag))
    , dialogs_(dialogs)
    , currentSql_(&currentSql) {}

void ErrorTrap::Report(unsigned line, std::exception_ptr failure) {
    // Like the box below, the hook must not let anything escape into the event loop.
    if (failureHook_) {
        try {
            failureHook_(failure);
        } catch (...) {
        }
    }
    std::optional<QString> sql;
    if (currentSql_)
        sql = AbbreviatedStatement(*currentSql_);
    const QString text = ComposeErrorReport(FailureDescription(failure), tag_, line, sql);
    // The box itself must not let anything escape into the event loop either.
    try {
        dialogs_.ErrorBox(text);
    } catch (...) {
    }
}

} // namespace veltrane
