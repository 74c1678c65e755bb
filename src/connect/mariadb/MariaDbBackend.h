#pragma once

#include "connect/access/ConnectionBackend.h"

#include <memory>

namespace veltrane {

// A session with a MySQL server through MariaDB Connector/C. Throws DatabaseError when the
// connection cannot be made.
std::unique_ptr<ConnectionBackend> OpenMariaDbBackend(const ConnectionTarget& target,
                                                      const ConnectionOptions& options);

} // namespace veltrane
