#include "app/shell/ProgramFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <sys/stat.h>

namespace veltrane {

QString ProgramFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Before the application object exists, ask the kernel.
    return QFileInfo(QStringLiteral("/proc/self/exe"))
        .canonicalFilePath()
        .section(QLatin1Char('/'), 0, -2);
}

QString SkinFilePath(const QString& programFolder) {
    return programFolder + QStringLiteral("/x/o.cjs");
}

QString HandCursorPath(const QString& programFolder) {
    return programFolder + QStringLiteral("/HAND-M.CUR");
}

bool FileExists(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0')))
        return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    return ::stat(native.constData(), &info) == 0;
}

} // namespace veltrane
