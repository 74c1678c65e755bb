#pragma once

#include <QString>

namespace veltrane {

inline const QString kSettingsApplication = QStringLiteral("Harnwick");
inline const QString kSettingsSection = QStringLiteral("Veltrane");

// Per-user text values addressed by application, section and key. Each application's values
// live in one INI file, "<directory>/<application>.ini", readable and writable by its owner
// only, because it holds both passwords in plain text.
class SettingsStore {
public:
    // The store in the user's configuration folder.
    SettingsStore();
    // A store whose files live in `directory` (tests point this at a temporary folder).
    explicit SettingsStore(QString directory);

    // The stored text, or `defaultValue` when the key was never written. A key written with
    // the empty string is present and reads back as the empty string.
    QString GetSetting(const QString& application, const QString& section, const QString& key,
                       const QString& defaultValue = QString()) const;
    // Creates or replaces the value and writes it to the file at once. A file it creates or
    // replaces is owner-only.
    void SaveSetting(const QString& application, const QString& section, const QString& key,
                     const QString& value);
    // Makes the application's file owner-only, whatever mode an older file had; nothing when
    // there is no file yet. The connection window does this once as it loads, before it reads
    // the passwords out of the file.
    void KeepPrivate(const QString& application) const;

    QString FilePath(const QString& application) const;

private:
    void RestrictToOwner(const QString& filePath) const;
    QString directory_;
};

} // namespace veltrane
