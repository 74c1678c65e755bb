#pragma once

#include "connect/access/ConnectionBackend.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrane {

using ConnectionStringPairs = std::vector<std::pair<std::string, std::string>>;

// Splits "key=value;key=value" into its pairs. Keys are trimmed of blanks; values stay as
// written, except that a value may be enclosed in braces ("{a;b}", with "}}" for a literal
// brace) so that it can hold ';'. Empty parts (";;") are skipped. Throws DatabaseError on a
// part without '=', an empty key, an unclosed brace, or a key given twice (letter case
// ignored), rather than guessing which of two values was meant.
ConnectionStringPairs ParseConnectionStringPairs(std::string_view connectionString);

// Reads a whole connection string and decides the server kind:
// DRIVER={MySQL ODBC 5.1 Driver} selects MySQL (keys SERVER, PORT, USER, PASSWORD, DATABASE);
// Provider=ASEOLEDB selects Sybase ASE (keys Data Source as host:port, User Id, Password,
// Catalog). An empty or missing MySQL PORT is 3306, as with the MySQL ODBC driver. Throws
// DatabaseError naming what is wrong: an unknown driver or provider, no server, a Sybase ASE
// port that is missing or empty, a port that is not a number, a key the kind does not have. Error
// texts never repeat the password.
ConnectionTarget ParseConnectionString(std::string_view connectionString);

} // namespace veltrane
