// Syntax tree of the ASE dialect the engine runs.
#pragma once

#include "Types.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace asetest {

struct SelectStmt;

// A name of up to three parts: [db.][owner.]name; empty parts were omitted.
struct ObjectName {
    std::string database;
    std::string owner;
    std::string name;
    std::string written; // as given, for messages
};

enum class ExprKind {
    Literal,
    Column,   // parts: [qualifier...] column
    Global,   // @@name
    Negate,   // -a
    Binary,   // a op b  (+ - * / %)
    Function, // name(args)
    Convert,  // convert(type, x [, style]) and cast(x as type)
    CountStar,
    // Conditions
    Compare, // a op b  (= <> != < > <= >= !< !>)
    IsNull,  // a is [not] null
    Like,    // a [not] like b
    Between, // a [not] between b and c
    InList,  // a [not] in (b, c, ...)
    And,
    Or,
    Not,
    Exists, // exists (select ...)
};

struct Expr {
    ExprKind kind = ExprKind::Literal;
    Datum literal;
    std::vector<std::string> parts; // column reference
    std::string name;               // operator, function or global name (lower case)
    std::vector<std::unique_ptr<Expr>> args;
    ColumnType targetType; // convert
    bool negated = false;  // is not null, not like, not between, not in
    std::shared_ptr<SelectStmt> subquery;
    std::string text; // source text, for messages
};
using ExprPtr = std::unique_ptr<Expr>;

struct SelectItem {
    bool star = false;
    std::string starQualifier; // t.*
    ExprPtr expr;
    std::string alias;
    bool hasAlias = false;
};

struct OrderItem {
    ExprPtr expr;
    bool descending = false;
};

struct SelectStmt {
    bool distinct = false;
    std::optional<std::int64_t> top;
    std::vector<SelectItem> items;
    std::optional<ObjectName> from;
    std::string fromAlias;
    ExprPtr where;
    std::vector<OrderItem> orderBy;
};

struct ColumnDefinition {
    std::string name;
    ColumnType type;
};

enum class StmtKind {
    Select,
    Insert,
    Update,
    Delete,
    Truncate,
    CreateTable,
    CreateView,
    DropTable,
    DropView,
    CreateDatabase,
    DropDatabase,
    Use,
    If,
    Block,
    BeginTran,
    CommitTran,
    RollbackTran,
    SetOption,
    ExecString, // execute ('sql')
    ExecProc,   // sp_tables ...
    Print,
    Empty,
};

struct ProcArgument {
    std::string name; // @name = value, else empty
    ExprPtr value;
};

struct Statement {
    StmtKind kind = StmtKind::Empty;
    std::shared_ptr<SelectStmt> select; // select, insert ... select, create view
    ObjectName target;                  // table / view / database (name)
    std::vector<ObjectName> targets;    // drop table a, b
    std::vector<std::string> columns;   // insert column list
    std::vector<ExprPtr> values;        // insert values, exec string parts
    std::vector<std::pair<std::string, ExprPtr>> assignments; // update set
    ExprPtr where;                                            // update/delete where, if condition
    std::vector<ColumnDefinition> definitions;                // create table
    std::string viewText;                                     // create view: the select text
    std::vector<std::unique_ptr<Statement>> body;             // begin...end, if: [then, else]
    std::string option;                                       // set option name (lower case)
    std::string optionValue;                                  // set option value as written
    std::vector<ProcArgument> procArgs;
    std::string text; // first token, for messages
};
using StatementPtr = std::unique_ptr<Statement>;

} // namespace asetest
