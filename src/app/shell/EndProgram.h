#pragma once

namespace veltrane {

// Ends the program at once, also from inside an operation that is yielding to the event loop
// (where leaving the event loop would only return into the middle of that operation). Nothing
// is lost: the settings store writes every change when it happens.
[[noreturn]] void EndProgram();

} // namespace veltrane
