#pragma once

// The INSERT statement that copies one source row: INSERT INTO [t] VALUES('5', 'O''Brien', NULL)
// toward Sybase ASE, INSERT INTO `t` VALUES('5', 'O''Brien', NULL) toward MySQL; no semicolon.
//
// How a value is written follows the value itself, whatever its column's type code, since the
// value knows exactly what it holds:
//   Null                NULL (unquoted), in both directions; an empty text stays ''.
//   Boolean             bare 1 or 0 toward MySQL; toward Sybase ASE, whose column is text and
//                       which refuses to convert a number to text implicitly (message 257),
//                       the quoted text '1' or '0'.
//   Binary              X'0aff' toward MySQL (exact bytes into the BLOB column); toward
//                       Sybase ASE, whose column is text, the quoted text '0x0aff'.
//   anything else       its standard text (DbValue::AppendText), quoted, ' doubled; toward
//                       Sybase ASE a backslash before a line break ends its literal, which
//                       goes on in the next: 'a\' + '<LF>b' (see SplitSybaseLineContinuations);
//                       ASE cuts such a joined literal at 16384 bytes, so a longer value
//                       that needs it is refused with a DatabaseError instead of being cut.
// No other character is escaped and nothing is rewritten after the fact.

#include "connect/access/DbValue.h"
#include "connect/access/ResultSet.h"
#include "connect/access/SqlText.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace veltrane {

// Appends `value` as it stands in the VALUES list of an INSERT toward `target`.
void AppendValueLiteral(std::string& out, ServerKind target, const DbValue& value);

// Builds the INSERT of each row of one table into one buffer that it keeps, so that after the
// first few rows building a statement allocates nothing.
class InsertRowBuilder {
public:
    InsertRowBuilder(ServerKind target, std::string_view table);

    // The statement for the current row of `rows` (which must not be at its end); the text
    // stays valid until the next Build.
    const std::string& Build(const ResultSet& rows);
    // The same statement written into `out`, calling `beforeField` before each field is
    // written (a long operation lets its window breathe there).
    void BuildInto(std::string& out, const ResultSet& rows,
                   const std::function<void()>& beforeField);

private:
    ServerKind target_;
    std::string prefix_; // INSERT INTO <quoted table> VALUES(
    std::string statement_;
};

// The statement for one row of values.
std::string InsertRowStatement(ServerKind target, std::string_view table,
                               std::span<const DbValue> row);

} // namespace veltrane
