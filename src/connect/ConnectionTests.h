#pragma once

#include "connect/ConnectionProfile.h"

namespace veltrane {

// Silent connection tests: true when a connection opens with the profile as it stands.
// Nothing is shown or kept; the connection is released without an explicit Close.
bool TestMySQLConnection(const ConnectionProfile& mysqlProfile);
bool TestSybaseConnection(const ConnectionProfile& sybaseProfile);

} // namespace veltrane
