#include "app/shell/ApplicationTitle.h"

#include <QList>
#include <stdexcept>

namespace veltrane {

namespace {
QString& TitleStorage() {
    static QString title = kProductName;
    return title;
}

// Characters as the user sees them: a letter outside the basic plane counts once.
qsizetype CharacterCount(const QString& text) {
    return text.toUcs4().size();
}
} // namespace

QString ShortenedTitle(const QString& productName) {
    QString text = productName;
    // A one-word name has nothing to drop: it is the title as it stands, not a failure.
    if (!text.contains(QLatin1Char(' ')))
        return text;
    do {
        const qsizetype blank = text.lastIndexOf(QLatin1Char(' '));
        // Once every blank is gone but the text is still too long there is no word boundary
        // left to cut at; the old runtime failed here, and so do we.
        if (blank < 0)
            throw std::invalid_argument("no blank left to shorten the application title at");
        text.truncate(blank);
    } while (CharacterCount(text) > 40);
    return text;
}

QString ApplicationTitle() {
    return TitleStorage();
}

void SetApplicationTitle(const QString& productName) {
    // Computed first, so a failure leaves the previous title in place.
    QString title = ShortenedTitle(productName);
    TitleStorage() = std::move(title);
}

} // namespace veltrane
