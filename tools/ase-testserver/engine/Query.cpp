// Queries and row statements: sources, filters, projections, ordering and writes.
#include "Executor.h"

#include <algorithm>
#include <optional>

namespace asetest {

void SessionImpl::StopIfCancelled() const {
    // A statement that writes never writes part of its rows.
    if (Cancelled()) {
        throw EngineError(3618, 16,
                          "The statement was cancelled by the client; nothing of it "
                          "was written.");
    }
}

RowSet SessionImpl::LoadSource(const ObjectName& n, const std::string& contextDb) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(n, contextDb, h);
    RowSet set;
    set.tableName = n.name;
    if (t->kind == 'S') {
        set = SystemRows(*h, t->name);
        set.tableName = n.name;
        return set;
    }
    if (t->kind == 'V') {
        std::shared_ptr<SelectStmt> s;
        try {
            s = ParseSelectText(t->viewText);
        } catch (const EngineError& e) {
            throw EngineError(e.message().number, e.message().severity,
                              "View '" + t->name + "': " + e.message().text);
        }
        if (viewDepth_ >= 16) {
            throw EngineError(217, 16, "Maximum view nesting level exceeded (limit 16).");
        }
        ++viewDepth_;
        try {
            NamesAs as(*this, t->owner);
            set = ExecuteSelect(*s, h->name);
        } catch (...) {
            --viewDepth_;
            throw;
        }
        --viewDepth_;
        set.tableName = n.name;
        return set;
    }
    for (const ColumnDefinition& c : t->columns) {
        set.columns.push_back(ResultColumn{c.name, c.type});
    }
    std::string sql = "SELECT rowid";
    for (std::size_t i = 0; i < t->columns.size(); ++i) {
        sql += ", c" + std::to_string(i);
    }
    sql += " FROM " + t->storage;
    Query q(*h->db, sql);
    while (q.Step()) {
        if (Cancelled()) {
            break;
        }
        std::vector<Value> row;
        row.reserve(t->columns.size());
        for (std::size_t i = 0; i < t->columns.size(); ++i) {
            row.push_back(q.ReadValue(static_cast<int>(i + 1), t->columns[i].type));
        }
        set.rowids.push_back(q.Int(0));
        set.rows.push_back(std::move(row));
    }
    return set;
}

std::vector<std::int64_t> SessionImpl::MatchingRows(const RowSet& set, const Expr* where) {
    std::vector<std::int64_t> out;
    if (where && !set.columns.empty()) {
        // Type errors show even when no row is read.
        const std::vector<Value> nullRow(set.columns.size());
        RowContext ctx;
        ctx.set = &set;
        ctx.row = &nullRow;
        EvalCondition(*where, ctx);
    }
    for (std::size_t i = 0; i < set.rows.size(); ++i) {
        if (Cancelled()) {
            break;
        }
        if (where) {
            RowContext ctx;
            ctx.set = &set;
            ctx.row = &set.rows[i];
            if (EvalCondition(*where, ctx) != Tri::True) {
                continue;
            }
        }
        out.push_back(static_cast<std::int64_t>(i));
    }
    return out;
}

RowSet SessionImpl::ExecuteSelect(const SelectStmt& s, const std::string& contextDb) {
    RowSet source;
    const bool hasFrom = s.from.has_value();
    if (hasFrom) {
        source = LoadSource(*s.from, contextDb);
        source.alias = s.fromAlias;
    } else {
        source.rows.emplace_back();
    }
    // The select list, with * expanded to column references.
    struct Item {
        const Expr* expr = nullptr;
        int sourceColumn = -1; // from *
        std::string name;
        bool aliased = false;
    };
    std::vector<Item> items;
    bool aggregate = false;
    for (const SelectItem& it : s.items) {
        if (it.star) {
            if (!hasFrom) {
                throw EngineError(263, 16, "Must specify table to select from.");
            }
            if (!it.starQualifier.empty() && it.starQualifier != source.tableName &&
                it.starQualifier != source.alias) {
                throw EngineError(107, 16,
                                  "The column prefix '" + it.starQualifier +
                                      "' does not match with a table name or alias name used in "
                                      "the query.");
            }
            for (std::size_t c = 0; c < source.columns.size(); ++c) {
                items.push_back(Item{nullptr, static_cast<int>(c), source.columns[c].name, false});
            }
            continue;
        }
        Item item;
        item.expr = it.expr.get();
        if (it.hasAlias) {
            item.name = it.alias;
            item.aliased = true;
        } else if (it.expr->kind == ExprKind::Column) {
            item.name = it.expr->parts.back();
        }
        aggregate = aggregate || ContainsCount(*it.expr);
        items.push_back(std::move(item));
    }
    if (s.where && ContainsCount(*s.where)) {
        throw EngineError(147, 15,
                          "An aggregate may not appear in the WHERE clause unless it is in a "
                          "subquery contained in a HAVING clause or a select list, and the column "
                          "being aggregated is an outer reference.");
    }

    std::vector<std::int64_t> matching = MatchingRows(source, s.where.get());
    std::int64_t count = static_cast<std::int64_t>(matching.size());

    // Result types: every item evaluated once over a row of NULLs.
    RowSet result;
    std::vector<Value> nullRow(source.columns.size());
    {
        RowContext ctx;
        ctx.set = &source;
        ctx.row = &nullRow;
        ctx.count = &count;
        for (const Item& item : items) {
            ColumnType type;
            if (item.expr) {
                type = Eval(*item.expr, ctx).type;
            } else {
                type = source.columns[static_cast<std::size_t>(item.sourceColumn)].type;
            }
            result.columns.push_back(ResultColumn{item.name, type});
        }
    }

    auto project = [&](const std::vector<Value>& row) {
        RowContext ctx;
        ctx.set = &source;
        ctx.row = &row;
        ctx.count = &count;
        std::vector<Value> out;
        out.reserve(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].expr) {
                Datum d = Eval(*items[i].expr, ctx);
                if (IsStringType(d.type.type) && !d.value.isNull && d.value.bytes.empty()) {
                    d.value.bytes = " ";
                }
                out.push_back(std::move(d.value));
            } else {
                out.push_back(row[static_cast<std::size_t>(items[i].sourceColumn)]);
            }
        }
        return out;
    };

    std::vector<std::size_t> sourceIndex; // source row of each result row
    if (aggregate) {
        const std::vector<Value>& row =
            matching.empty() ? nullRow : source.rows[static_cast<std::size_t>(matching[0])];
        result.rows.push_back(project(row));
        sourceIndex.push_back(matching.empty() ? std::string::npos
                                               : static_cast<std::size_t>(matching[0]));
    } else {
        for (std::int64_t i : matching) {
            if (Cancelled()) {
                break;
            }
            result.rows.push_back(project(source.rows[static_cast<std::size_t>(i)]));
            sourceIndex.push_back(static_cast<std::size_t>(i));
            result.rowids.push_back(hasFrom ? source.rowids[static_cast<std::size_t>(i)] : 0);
        }
    }

    auto sameRow = [&](const std::vector<Value>& a, const std::vector<Value>& b) {
        for (std::size_t c = 0; c < a.size(); ++c) {
            if (a[c].isNull != b[c].isNull) {
                return false;
            }
            if (!a[c].isNull && CompareData(Datum{result.columns[c].type, a[c]},
                                            Datum{result.columns[c].type, b[c]}) != 0) {
                return false;
            }
        }
        return true;
    };

    // ORDER BY on text, unitext or image is refused before any row counts, as ASE refuses it
    // when it compiles the statement.
    for (const OrderItem& o : s.orderBy) {
        const Expr& e = *o.expr;
        std::optional<ColumnType> type;
        if (e.kind == ExprKind::Literal && e.literal.type.type == AseType::Int &&
            !e.literal.value.isNull) {
            const std::int64_t position = e.literal.value.integer - 1;
            if (position >= 0 && position < static_cast<std::int64_t>(result.columns.size()))
                type = result.columns[static_cast<std::size_t>(position)].type;
        } else if (e.kind == ExprKind::Column && e.parts.size() == 1) {
            for (std::size_t c = 0; c < items.size(); ++c) {
                if (items[c].aliased && items[c].name == e.parts[0]) {
                    type = result.columns[c].type;
                    break;
                }
            }
        }
        if (!type) {
            RowContext ctx;
            ctx.set = &source;
            ctx.row = &nullRow;
            ctx.count = &count;
            type = Eval(e, ctx).type;
        }
        if (IsLargeType(type->type)) {
            throw EngineError(420, 16,
                              "TEXT, IMAGE and UNITEXT datatypes cannot be used in an ORDER BY "
                              "clause.");
        }
    }

    if (!s.orderBy.empty() && !result.rows.empty()) {
        // Sort keys per result row.
        std::vector<std::vector<Datum>> keys(result.rows.size());
        for (const OrderItem& o : s.orderBy) {
            const Expr& e = *o.expr;
            int outputColumn = -1;
            if (e.kind == ExprKind::Literal && e.literal.type.type == AseType::Int &&
                !e.literal.value.isNull) {
                outputColumn = static_cast<int>(e.literal.value.integer) - 1;
                if (outputColumn < 0 || outputColumn >= static_cast<int>(result.columns.size())) {
                    throw EngineError(108, 16,
                                      "The order by position number " +
                                          std::to_string(e.literal.value.integer) +
                                          " is out of range of the number of items in the select "
                                          "list.");
                }
            } else if (e.kind == ExprKind::Column && e.parts.size() == 1) {
                for (std::size_t c = 0; c < items.size(); ++c) {
                    if (items[c].aliased && items[c].name == e.parts[0]) {
                        outputColumn = static_cast<int>(c);
                        break;
                    }
                }
            }
            for (std::size_t r = 0; r < result.rows.size(); ++r) {
                Datum key;
                if (outputColumn >= 0) {
                    key = Datum{result.columns[static_cast<std::size_t>(outputColumn)].type,
                                result.rows[r][static_cast<std::size_t>(outputColumn)]};
                } else {
                    RowContext ctx;
                    ctx.set = &source;
                    ctx.row = sourceIndex[r] == std::string::npos ? &nullRow
                                                                  : &source.rows[sourceIndex[r]];
                    ctx.count = &count;
                    key = Eval(e, ctx);
                }
                if (IsLargeType(key.type.type)) {
                    throw EngineError(420, 16,
                                      "TEXT, IMAGE and UNITEXT datatypes cannot be used in an "
                                      "ORDER BY clause.");
                }
                keys[r].push_back(std::move(key));
            }
        }
        std::vector<std::size_t> order(result.rows.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            for (std::size_t k = 0; k < s.orderBy.size(); ++k) {
                const Datum& x = keys[a][k];
                const Datum& y = keys[b][k];
                int c = 0;
                if (x.value.isNull || y.value.isNull) {
                    c = x.value.isNull == y.value.isNull ? 0 : (x.value.isNull ? -1 : 1);
                } else {
                    c = CompareData(x, y);
                }
                if (c != 0) {
                    return s.orderBy[k].descending ? c > 0 : c < 0;
                }
            }
            return false;
        });
        std::vector<std::vector<Value>> sorted;
        sorted.reserve(order.size());
        for (std::size_t i : order) {
            sorted.push_back(std::move(result.rows[i]));
        }
        result.rows = std::move(sorted);
    }
    if (s.distinct) {
        std::vector<std::vector<Value>> unique;
        for (auto& row : result.rows) {
            bool seen = false;
            for (const auto& u : unique) {
                if (sameRow(u, row)) {
                    seen = true;
                    break;
                }
            }
            if (!seen) {
                unique.push_back(std::move(row));
            }
        }
        result.rows = std::move(unique);
    }
    if (s.top && static_cast<std::int64_t>(result.rows.size()) > *s.top) {
        result.rows.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, *s.top)));
    }
    return result;
}

void SessionImpl::DoSelect(const Statement& st, StatementOutcome& o) {
    RowSet r = ExecuteSelect(*st.select, current_);
    if (rowCountLimit_ > 0 && static_cast<std::int64_t>(r.rows.size()) > rowCountLimit_) {
        r.rows.resize(static_cast<std::size_t>(rowCountLimit_));
    }
    for (std::size_t c = 0; c < r.columns.size(); ++c) {
        const AseType t = r.columns[c].type.type;
        if (!IsLargeType(t)) {
            continue;
        }
        const std::size_t limit = static_cast<std::size_t>(textSize_);
        for (auto& row : r.rows) {
            std::string& b = row[c].bytes;
            if (b.size() <= limit && t != AseType::UniText) {
                continue;
            }
            if (t == AseType::Text) {
                b = CutUtf8Bytes(b, limit);
            } else if (t == AseType::UniText) {
                b = CutUtf16Units(b, limit / 2);
            } else {
                b.resize(limit);
            }
        }
    }
    o.hasResultSet = true;
    o.columns = std::move(r.columns);
    o.rows = std::move(r.rows);
    o.rowCount = static_cast<std::int64_t>(o.rows.size());
}

// DML ----------------------------------------------------------------------------------------

namespace {

[[noreturn]] void NullNotAllowed(const std::string& column, const std::string& db,
                                 const TableDef& t) {
    throw EngineError(515, 16,
                      "Attempt to insert NULL value into column '" + column + "', table '" + db +
                          "." + t.owner + "." + t.name +
                          "'; column does not allow nulls. Update fails.");
}

int ColumnIndex(const TableDef& t, const std::string& name) {
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        if (t.columns[i].name == name) {
            return static_cast<int>(i);
        }
    }
    throw EngineError(207, 16, "Invalid column name '" + name + "'.");
}

void RequireTable(const TableDef& t, const ObjectName& n) {
    if (t.kind != 'U') {
        throw EngineError(4403, 16,
                          "The object '" + n.written +
                              "' is not a user table; this server changes rows of tables only.");
    }
}

} // namespace

void SessionImpl::DoInsert(const Statement& st, StatementOutcome& o) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(st.target, current_, h);
    RequireTable(*t, st.target);
    std::vector<int> targets;
    if (st.columns.empty()) {
        for (std::size_t i = 0; i < t->columns.size(); ++i) {
            targets.push_back(static_cast<int>(i));
        }
    } else {
        for (const std::string& c : st.columns) {
            targets.push_back(ColumnIndex(*t, c));
        }
    }
    // Source rows, as data.
    std::vector<std::vector<Datum>> sourceRows;
    if (st.select) {
        RowSet r = ExecuteSelect(*st.select, current_);
        StopIfCancelled();
        if (r.columns.size() != targets.size()) {
            throw EngineError(213, 16,
                              "Insert error: column name or number of supplied values does not "
                              "match table definition.");
        }
        for (auto& row : r.rows) {
            std::vector<Datum> data;
            for (std::size_t c = 0; c < row.size(); ++c) {
                data.push_back(Datum{r.columns[c].type, std::move(row[c])});
            }
            sourceRows.push_back(std::move(data));
        }
    } else {
        if (st.values.size() != targets.size()) {
            throw EngineError(213, 16,
                              "Insert error: column name or number of supplied values does not "
                              "match table definition.");
        }
        RowContext ctx;
        ctx.constantsOnly = true;
        std::vector<Datum> data;
        for (const ExprPtr& e : st.values) {
            data.push_back(Eval(*e, ctx));
        }
        sourceRows.push_back(std::move(data));
    }
    // Full rows in the columns' types; all checked before anything is written.
    std::vector<std::vector<Value>> rows;
    rows.reserve(sourceRows.size());
    for (const auto& src : sourceRows) {
        std::vector<Value> row(t->columns.size());
        std::vector<bool> given(t->columns.size(), false);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const auto c = static_cast<std::size_t>(targets[i]);
            const ColumnDefinition& col = t->columns[c];
            Datum v = AssignToColumn(src[i], col.type);
            if (v.value.isNull && !col.type.nullable) {
                NullNotAllowed(col.name, h->name, *t);
            }
            row[c] = std::move(v.value);
            given[c] = true;
        }
        for (std::size_t c = 0; c < t->columns.size(); ++c) {
            if (!given[c] && !t->columns[c].type.nullable) {
                throw EngineError(233, 16,
                                  "The column " + t->columns[c].name + " in table " + t->name +
                                      " does not allow null values.");
            }
        }
        rows.push_back(std::move(row));
    }
    std::string sql = "INSERT INTO " + t->storage + " VALUES (";
    for (std::size_t i = 0; i < t->columns.size(); ++i) {
        sql += i ? ", ?" : "?";
    }
    sql += ")";
    auto write = [&] {
        for (const auto& row : rows) {
            Query q(*h->db, sql);
            for (std::size_t c = 0; c < row.size(); ++c) {
                q.BindValue(static_cast<int>(c + 1), row[c], t->columns[c].type);
            }
            q.Step();
        }
    };
    if (rows.size() == 1) {
        write(); // a single statement is atomic by itself
    } else if (!rows.empty()) {
        Scope scope(*this, *h);
        write();
        scope.Commit();
    }
    o.rowCount = static_cast<std::int64_t>(rows.size());
}

void SessionImpl::DoUpdate(const Statement& st, StatementOutcome& o) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(st.target, current_, h);
    RequireTable(*t, st.target);
    std::vector<int> targets;
    for (const auto& [name, e] : st.assignments) {
        targets.push_back(ColumnIndex(*t, name));
    }
    Scope scope(*this, *h);
    RowSet set = LoadSource(st.target, current_);
    std::vector<std::int64_t> matching = MatchingRows(set, st.where.get());
    StopIfCancelled();
    std::string sql = "UPDATE " + t->storage + " SET ";
    for (std::size_t i = 0; i < targets.size(); ++i) {
        sql += (i ? ", c" : "c") + std::to_string(targets[i]) + " = ?";
    }
    sql += " WHERE rowid = ?";
    std::vector<std::vector<Value>> newValues;
    for (std::int64_t r : matching) {
        RowContext ctx;
        ctx.set = &set;
        ctx.row = &set.rows[static_cast<std::size_t>(r)];
        std::vector<Value> values;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const ColumnDefinition& col = t->columns[static_cast<std::size_t>(targets[i])];
            Datum v = AssignToColumn(Eval(*st.assignments[i].second, ctx), col.type);
            if (v.value.isNull && !col.type.nullable) {
                NullNotAllowed(col.name, h->name, *t);
            }
            if (v.value.isNull && IsLargeType(col.type.type)) {
                // Text that has had a value keeps its text pointer when set to NULL.
                const Value& old = (*ctx.row)[static_cast<std::size_t>(targets[i])];
                v.value.textPointer = !old.isNull || old.textPointer;
            }
            values.push_back(std::move(v.value));
        }
        newValues.push_back(std::move(values));
    }
    for (std::size_t k = 0; k < matching.size(); ++k) {
        Query q(*h->db, sql);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            q.BindValue(static_cast<int>(i + 1), newValues[k][i],
                        t->columns[static_cast<std::size_t>(targets[i])].type);
        }
        q.BindInt(static_cast<int>(targets.size() + 1),
                  set.rowids[static_cast<std::size_t>(matching[k])]);
        q.Step();
    }
    scope.Commit();
    o.rowCount = static_cast<std::int64_t>(matching.size());
}

void SessionImpl::DoDelete(const Statement& st, StatementOutcome& o) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(st.target, current_, h);
    RequireTable(*t, st.target);
    Scope scope(*this, *h);
    if (!st.where) {
        h->db->Exec("DELETE FROM " + t->storage);
        o.rowCount = h->db->Changes();
        scope.Commit();
        return;
    }
    RowSet set = LoadSource(st.target, current_);
    std::vector<std::int64_t> matching = MatchingRows(set, st.where.get());
    StopIfCancelled();
    for (std::int64_t r : matching) {
        Query q(*h->db, "DELETE FROM " + t->storage + " WHERE rowid = ?");
        q.BindInt(1, set.rowids[static_cast<std::size_t>(r)]);
        q.Step();
    }
    scope.Commit();
    o.rowCount = static_cast<std::int64_t>(matching.size());
}

void SessionImpl::DoTruncate(const Statement& st) {
    DbHandle* h = nullptr;
    TablePtr t = ResolveTable(st.target, current_, h);
    RequireTable(*t, st.target);
    h->db->Exec("DELETE FROM " + t->storage);
}

} // namespace asetest
