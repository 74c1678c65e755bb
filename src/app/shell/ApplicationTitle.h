#pragma once

#include <QString>

namespace veltrane {

inline const QString kProductName = QStringLiteral("Veltrane");

// The product name shortened to at most 40 characters: drop the last blank and everything after
// it, at least once and until the text fits. A name without a blank is the title as it stands.
QString ShortenedTitle(const QString& productName);

// The caption of every message box and input prompt that names none of its own. It is the
// product name until SetApplicationTitle runs.
QString ApplicationTitle();
void SetApplicationTitle(const QString& productName = kProductName);

} // namespace veltrane
