#include "connect/Backends.h"
#include "connect/DatabaseError.h"

namespace veltrane {

std::unique_ptr<ConnectionBackend> OpenFreeTdsBackend(const ConnectionTarget&,
                                                      const ConnectionOptions&) {
    throw DatabaseError("The Sybase ASE provider is not available in this build.");
}

} // namespace veltrane
