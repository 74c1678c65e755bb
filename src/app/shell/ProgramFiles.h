#pragma once

#include <QString>

namespace veltrane {

// The folder of the program's executable, without a trailing separator.
QString ProgramFolder();
// The optional files read from the program folder.
QString SkinFilePath(const QString& programFolder);
QString HandCursorPath(const QString& programFolder);

// True when the modification time of `path` can be read; any failure (no such file, no access
// to its folder, a malformed path) means false and is never reported.
bool FileExists(const QString& path);

} // namespace veltrane
