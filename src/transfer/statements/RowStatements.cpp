#include "transfer/statements/RowStatements.h"

#include "connect/access/DatabaseError.h"

#include <string>

namespace veltrane {

void AppendValueLiteral(std::string& out, ServerKind target, const DbValue& value) {
    switch (value.GetKind()) {
    case DbValue::Kind::Null:
        out.append("NULL");
        return;
    case DbValue::Kind::Boolean:
        if (target == ServerKind::SybaseASE)
            out.append(value.AsBoolean() ? "'1'" : "'0'");
        else
            out.push_back(value.AsBoolean() ? '1' : '0');
        return;
    case DbValue::Kind::Binary:
        if (target == ServerKind::MySQL) {
            out.append("X'");
            AppendHexDigits(out, value.AsBinary().bytes);
            out.push_back('\'');
            return;
        }
        break; // the quoted 0x text of the standard conversion
    default:
        break;
    }
    out.push_back('\'');
    const std::size_t from = out.size();
    value.AppendText(out);
    const std::size_t valueBytes = out.size() - from;
    DoubleSingleQuotes(out, from);
    if (target == ServerKind::SybaseASE && SplitSybaseLineContinuations(out, from) &&
        valueBytes > kSybaseExpressionBytes) {
        out.resize(from - 1);
        throw DatabaseError(
            "The value (" + std::to_string(valueBytes) +
            " bytes) cannot be written to Sybase ASE exactly: it has a backslash right before a "
            "line break, which ASE drops inside a literal unless the literal is split there, "
            "and ASE cuts a split literal, like any expression, at " +
            std::to_string(kSybaseExpressionBytes) + " bytes.");
    }
    out.push_back('\'');
}

namespace {

std::string InsertPrefix(ServerKind target, std::string_view table) {
    std::string prefix = "INSERT INTO ";
    AppendTargetIdentifier(prefix, target, table);
    prefix.append(" VALUES(");
    return prefix;
}

template <typename ValueAt>
const std::string& WriteInsert(std::string& out, std::string_view prefix, ServerKind target,
                               std::size_t count, ValueAt valueAt) {
    out.assign(prefix); // keeps the capacity of earlier rows
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            out.append(", ");
        }
        AppendValueLiteral(out, target, valueAt(i));
    }
    out.push_back(')');
    return out;
}

} // namespace

InsertRowBuilder::InsertRowBuilder(ServerKind target, std::string_view table)
    : target_(target)
    , prefix_(InsertPrefix(target, table)) {}

const std::string& InsertRowBuilder::Build(const ResultSet& rows) {
    return WriteInsert(
        statement_, prefix_, target_, static_cast<std::size_t>(rows.FieldCount()),
        [&](std::size_t i) -> const DbValue& { return rows.Value(static_cast<int>(i)); });
}

void InsertRowBuilder::BuildInto(std::string& out, const ResultSet& rows,
                                 const std::function<void()>& beforeField) {
    WriteInsert(out, prefix_, target_, static_cast<std::size_t>(rows.FieldCount()),
                [&](std::size_t i) -> const DbValue& {
                    beforeField();
                    return rows.Value(static_cast<int>(i));
                });
}

std::string InsertRowStatement(ServerKind target, std::string_view table,
                               std::span<const DbValue> row) {
    std::string out;
    WriteInsert(out, InsertPrefix(target, table), target, row.size(),
                [&](std::size_t i) -> const DbValue& { return row[i]; });
    return out;
}

} // namespace veltrane
