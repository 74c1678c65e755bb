#pragma once

// The CREATE TABLE statement that receives a copied table: one column per source field, in the
// source's order, with a column type chosen from the field's ADO type code.

#include "connect/access/AdoType.h"
#include "connect/access/ResultSet.h"
#include "connect/access/SqlText.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace veltrane {

// The DataTypeEnum name of an ADO type code ("adInteger"), or "" for a code ADO does not name.
std::string_view AdoTypeName(std::int16_t code);
inline std::string_view AdoTypeName(AdoType type) {
    return AdoTypeName(static_cast<std::int16_t>(type));
}

// The column definition text toward MySQL for a source field, with its leading blank and
// trailing comma (" INT,"). Chosen so that every value of the source column fits exactly:
// exact numbers keep their precision and scale, times keep microseconds, and whatever has no
// better home becomes LONGTEXT, which holds any text.
std::string MySQLColumnType(const FieldInfo& column);

// Toward Sybase ASE every column is text; NULL must be said, since ASE makes an undeclared
// column NOT NULL.
inline constexpr std::string_view kSybaseColumnType = " TEXT NULL,";

// CREATE TABLE [t]([a] TEXT NULL,[b] TEXT NULL) toward Sybase ASE;
// CREATE TABLE `t`(`a` INT,`b` TEXT); toward MySQL.
std::string CreateTableStatement(ServerKind target, std::string_view table,
                                 std::span<const FieldInfo> columns);

} // namespace veltrane
