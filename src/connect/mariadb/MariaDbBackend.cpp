#include "connect/Backends.h"
#include "connect/DatabaseError.h"

namespace veltrane {

std::unique_ptr<ConnectionBackend> OpenMariaDbBackend(const ConnectionTarget&,
                                                      const ConnectionOptions&) {
    throw DatabaseError("The MySQL driver is not available in this build.");
}

} // namespace veltrane
