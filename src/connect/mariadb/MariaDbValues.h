#pragma once

// How the columns of a MySQL result are described to the caller, and how their values become
// DbValues.

#include "connect/access/DbValue.h"
#include "connect/access/ResultSet.h"

#include <mysql.h>
#include <string>

namespace veltrane::mariadb {

// How the text of one column turns into a DbValue; decided once per result.
enum class Conversion {
    Null,
    Int,
    UInt,
    Decimal,
    Single,
    Double,
    Date,
    Time,
    DateTime,
    Boolean,
    Text,
    Binary
};

struct Column {
    FieldInfo info;
    Conversion conversion = Conversion::Text;
};

// The ADO type, precision, scale and size that the MySQL ODBC driver reports for a column.
Column DescribeColumn(const MYSQL_FIELD& field);

// A value as the text protocol sends it; `data == nullptr` is NULL. Throws DatabaseError when
// the text cannot be read as the column's type.
DbValue ConvertField(const Column& column, const char* data, unsigned long length);

// The fractional-second digits that the text protocol would show for a column with
// `decimals` digits (0 to 6); columns of unknown scale show six digits when there are any.
std::string FractionDigits(unsigned long microseconds, unsigned decimals);

} // namespace veltrane::mariadb
