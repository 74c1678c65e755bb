// Recursive-descent parser of a batch: statements one after another, separated by white space
// (a `;` is tolerated). Syntax errors are thrown as EngineError 102/156/105 before anything
// runs.
#pragma once

#include "Ast.h"
#include "Lexer.h"

#include <string_view>
#include <vector>

namespace asetest {

std::vector<StatementPtr> ParseBatch(std::string_view sql, bool quotedIdentifier);

// Parses `text` as a single select statement (view bodies).
std::shared_ptr<SelectStmt> ParseSelectText(std::string_view text);

// Parses an object name such as `db.owner.name` or `[a b]`; false if it is not one.
bool ParseObjectNameText(std::string_view text, ObjectName& out);

// Words that cannot name objects or columns without brackets.
bool IsReservedWord(std::string_view word);

} // namespace asetest
