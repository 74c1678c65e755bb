#pragma once

#include "connect/access/ConnectionBackend.h"

#include <memory>

namespace veltrane {

// A session with a Sybase ASE server through FreeTDS's DB-Library, speaking TDS 5.0. Throws
// DatabaseError when the connection cannot be made.
std::unique_ptr<ConnectionBackend> OpenFreeTdsBackend(const ConnectionTarget& target,
                                                      const ConnectionOptions& options);

} // namespace veltrane
