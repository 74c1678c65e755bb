#include "connect/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <sys/stat.h>

namespace veltrane {
namespace {

QString GroupedKey(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

} // namespace

SettingsStore::SettingsStore()
    : SettingsStore(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) {}

SettingsStore::SettingsStore(QString directory)
    : directory_(std::move(directory)) {}

QString SettingsStore::FilePath(const QString& application) const {
    return QDir(directory_).filePath(application + QStringLiteral(".ini"));
}

void SettingsStore::RestrictToOwner(const QString& filePath) const {
    // Exactly 0600, whatever mode an older file had.
    QByteArray path = QFile::encodeName(filePath);
    ::chmod(path.constData(), S_IRUSR | S_IWUSR);
}

void SettingsStore::KeepPrivate(const QString& application) const {
    const QString path = FilePath(application);
    if (QFile::exists(path)) {
        RestrictToOwner(path);
    }
}

QString SettingsStore::GetSetting(const QString& application, const QString& section,
                                  const QString& key, const QString& defaultValue) const {
    QSettings settings(FilePath(application), QSettings::IniFormat);
    QVariant value = settings.value(GroupedKey(section, key));
    if (!value.isValid()) {
        return defaultValue;
    }
    return value.toString();
}

void SettingsStore::SaveSetting(const QString& application, const QString& section,
                                const QString& key, const QString& value) {
    const QString path = FilePath(application);
    QDir().mkpath(directory_);
    if (!QFile::exists(path)) {
        // Create the file owner-only before the first password is written into it.
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.close();
        }
    }
    RestrictToOwner(path);
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(GroupedKey(section, key), value);
        settings.sync();
    }
    // The atomic save replaces the file; make sure the new one is owner-only too.
    RestrictToOwner(path);
}

} // namespace veltrane
