#pragma once

#include "connect/ConnectionProfile.h"
#include "connect/ProfileFields.h"

#include <QString>

namespace veltrane {
class SettingsStore;
}

namespace veltrane::testing {

// The value that `field` holds when the window shows these two profiles.
const QString& ProfileValue(const ProfileField& field, const ConnectionProfile& sybase,
                            const ConnectionProfile& mysql);

// Writes both profiles under the keys the connection window loads them from.
void StoreProfiles(SettingsStore& store, const ConnectionProfile& sybase,
                   const ConnectionProfile& mysql);

} // namespace veltrane::testing
