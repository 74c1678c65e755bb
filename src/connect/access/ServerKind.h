#pragma once

namespace veltrane {

// Which server a statement, a quoting rule, a connection or a failure concerns: the one name
// of that idea everywhere.
enum class ServerKind { MySQL, SybaseASE };

} // namespace veltrane
