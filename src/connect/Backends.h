#pragma once

// Entry points of the two backend libraries; only Connection::Open calls them.

#include "connect/Connection.h"
#include "connect/ConnectionString.h"

#include <memory>

namespace veltrane {

// MariaDB Connector/C. Throws DatabaseError when the connection cannot be made.
std::unique_ptr<ConnectionBackend> OpenMariaDbBackend(const ConnectionTarget& target,
                                                      const ConnectionOptions& options);

// FreeTDS, speaking TDS 5.0. Throws DatabaseError when the connection cannot be made.
std::unique_ptr<ConnectionBackend> OpenFreeTdsBackend(const ConnectionTarget& target,
                                                      const ConnectionOptions& options);

} // namespace veltrane
