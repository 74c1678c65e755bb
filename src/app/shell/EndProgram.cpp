#include "app/shell/EndProgram.h"

#include <cstdio>
#include <cstdlib>

namespace veltrane {

void EndProgram() {
    std::fflush(nullptr);
    // No static destructors: windows and Qt objects are still alive on the stack below us.
    std::_Exit(0);
}

} // namespace veltrane
