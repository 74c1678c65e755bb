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

InsertRowBuilder::InsertRowBuilder(ServerKind target, std::string_view table)
    : target_(target) {
    prefix_ = "INSERT INTO ";
    AppendTargetIdentifier(prefix_, target, table);
    prefix_.append(" VALUES(");
}

template <typename ValueAt>
const std::string& InsertRowBuilder::BuildWith(std::string& out, std::size_t count,
                                               ValueAt valueAt) {
    out.assign(prefix_); // keeps the capacity of earlier rows
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            out.append(", ");
        }
        AppendValueLiteral(out, target_, valueAt(i));
    }
    out.push_back(')');
    return out;
}

const std::string& InsertRowBuilder::Build(std::span<const DbValue> row) {
    return BuildWith(statement_, row.size(),
                     [&](std::size_t i) -> const DbValue& { return row[i]; });
}

const std::string& InsertRowBuilder::Build(std::span<const DbValue* const> row) {
    return BuildWith(statement_, row.size(),
                     [&](std::size_t i) -> const DbValue& { return *row[i]; });
}

const std::string& InsertRowBuilder::Build(const ResultSet& rows) {
    return BuildWith(
        statement_, static_cast<std::size_t>(rows.FieldCount()),
        [&](std::size_t i) -> const DbValue& { return rows.Value(static_cast<int>(i)); });
}

void InsertRowBuilder::BuildInto(std::string& out, const ResultSet& rows,
                                 const std::function<void()>& beforeField) {
    BuildWith(out, static_cast<std::size_t>(rows.FieldCount()),
              [&](std::size_t i) -> const DbValue& {
                  beforeField();
                  return rows.Value(static_cast<int>(i));
              });
}

std::string InsertRowStatement(ServerKind target, std::string_view table,
                               std::span<const DbValue> row) {
    InsertRowBuilder builder(target, table);
    return builder.Build(row);
}

} // namespace veltrane
