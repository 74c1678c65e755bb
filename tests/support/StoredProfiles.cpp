#include "StoredProfiles.h"

#include "connect/SettingsStore.h"

namespace veltrane::testing {

const QString& ProfileValue(const ProfileField& field, const ConnectionProfile& sybase,
                            const ConnectionProfile& mysql) {
    return (field.server == ServerKind::MySQL ? mysql : sybase).*field.member;
}

void StoreProfiles(SettingsStore& store, const ConnectionProfile& sybase,
                   const ConnectionProfile& mysql) {
    for (const ProfileField& field : kProfileFields)
        store.SaveSetting(kSettingsApplication, kSettingsSection, QString::fromLatin1(field.key),
                          ProfileValue(field, sybase, mysql));
}

} // namespace veltrane::testing
