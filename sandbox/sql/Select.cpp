// SELECT: the select list bound, rows filtered, aggregated, made distinct, ordered and cut by TOP.
#include "sandbox/sql/Executor.h"
#include "sandbox/sql/Functions.h"

#include <algorithm>
#include <unordered_set>
#include "sandbox/sql/Parse.h"

namespace sandbox::sql {

// The rows of the source that pass the condition, in the source's order. A table's rows come
// from the store here, and only those that pass are kept in the source.
std::vector<size_t> Executor::filter(Source& src, const Expr* where, const Session& s) {
    std::vector<size_t> out;
    Ctx c;
    c.s = &s;
    c.src = &src;
    if (src.userTable) {
        Query q(store.handle(), "SELECT rowid, * FROM \"" + src.name + "\"");
        std::vector<Value> row(src.cols.size());
        c.row = &row;
        while (q.step()) {
            readRow(q, src, row);
            if (where && !truth(eval(*where, c)).value_or(false))
                continue;
            out.push_back(src.rows.size());
            src.rows.push_back(row);
            src.rowids.push_back(q.i(0));
        }
        return out;
    }
    for (size_t i = 0; i < src.rows.size(); ++i) {
        c.row = &src.rows[i];
        if (!where || truth(eval(*where, c)).value_or(false))
            out.push_back(i);
    }
    return out;
}

// compileOnly: bind the statement and stop, for the check of a whole batch before it runs.
void Executor::select(const Statement& st, Session& s, Piece& p, bool compileOnly) {
    std::optional<Source> src;
    if (st.from)
        src = open(*st.from, s);
    Source* sp = src ? &*src : nullptr;

    // The select list, with * expanded.
    struct Item {
        const Expr* expr = nullptr;
        int column = -1;  // a column of the source (from *)
        Column meta;
    };
    std::vector<Item> items;
    bool aggregated = false;
    for (auto& it : st.items) {
        if (!it.expr) {
            if (!sp)
                compileError({.number = 263,
                              .state = 1,
                              .severity = 16,
                              .text = "Must specify table to select from."});
            if (!it.starQualifier.empty() && !(sp->alias.empty() ? sameName(it.starQualifier, sp->name)
                                                                 : sameName(it.starQualifier, sp->alias)))
                compileError({.number = 107,
                              .state = 1,
                              .severity = 15,
                              .text = "The column prefix '" + it.starQualifier +
                                      "' does not match with a table name or "
                                      "alias name used in the query."});
            for (size_t k = 0; k < sp->cols.size(); ++k) {
                items.push_back({nullptr, static_cast<int>(k), sp->cols[k]});
                sp->used[k] = 1;
            }
            continue;
        }
        bind(*it.expr, sp, true, false);
        if (hasAggregate(*it.expr))
            aggregated = true;
        Item item{it.expr.get(), -1, typeOf(*it.expr, sp)};
        if (!it.alias.empty())
            item.meta.name = it.alias;
        items.push_back(item);
    }
    if (st.where)
        bind(*st.where, sp, false, false);
    if (aggregated) {
        for (auto& it : items) {
            const Expr* bare = it.expr ? bareColumn(*it.expr) : nullptr;
            if (!it.expr || bare) {
                std::string name = sp->cols[it.expr ? bare->column : it.column].name;
                compileError(
                    {.number = 8120,
                     .state = 1,
                     .severity = 16,
                     .text = "Column '" + sp->name + "." + name +
                             "' is invalid in the select list because it is not contained in either an "
                             "aggregate function or the GROUP BY clause."});
            }
        }
    }

    // ORDER BY: an ordinal or a name of the select list, or an expression over the source.
    struct Key {
        int item = -1;
        const Expr* expr = nullptr;
        bool desc = false;
    };
    std::vector<Key> keys;
    for (auto& o : st.order) {
        Key k;
        k.desc = o.desc;
        if (o.expr->kind == Expr::Kind::Int) {
            if (o.expr->i < 1 || o.expr->i > static_cast<int64_t>(items.size()))
                compileError({.number = 108,
                              .state = 1,
                              .severity = 16,
                              .text = "The ORDER BY position number " + std::to_string(o.expr->i) +
                                      " is out of range of the number of items in the select list."});
            k.item = static_cast<int>(o.expr->i - 1);
        } else {
            if (o.expr->kind == Expr::Kind::Column && o.expr->parts.size() == 1)
                for (size_t i = 0; i < st.items.size() && k.item < 0; ++i)
                    if (!st.items[i].alias.empty() && sameName(st.items[i].alias, o.expr->parts[0]))
                        for (size_t j = 0; j < items.size(); ++j)
                            if (items[j].expr == st.items[i].expr.get())
                                k.item = static_cast<int>(j);
            if (k.item < 0) {
                bind(*o.expr, sp, false, false);
                if (o.expr->kind == Expr::Kind::Column)
                    for (size_t j = 0; j < items.size() && k.item < 0; ++j) {
                        const Expr* ie = items[j].expr;
                        int ic = ie ? (ie->kind == Expr::Kind::Column ? ie->column : -1) : items[j].column;
                        if (ic == o.expr->column)
                            k.item = static_cast<int>(j);
                    }
                if (k.item < 0) {
                    if (st.distinct)
                        compileError(
                            {.number = 145,
                             .state = 1,
                             .severity = 15,
                             .text = "ORDER BY items must appear in the select list if SELECT DISTINCT is "
                                     "specified."});
                    k.expr = o.expr.get();
                }
            }
        }
        keys.push_back(k);
    }

    if (compileOnly)
        return;
    ResultSet rs;
    for (auto& it : items)
        rs.columns.push_back(it.meta);
    std::vector<size_t> rows;
    Ctx c;
    c.s = &s;
    c.src = sp;
    if (sp) {
        rows = filter(*sp, st.where.get(), s);
    } else {
        static const std::vector<Value> none;
        c.row = &none;
        if (!st.where || truth(eval(*st.where, c)).value_or(false))
            rows.push_back(0);
    }

    struct Out {
        std::vector<Cell> cells;
        std::vector<Cell> extra;  // ORDER BY expressions that are not in the list
    };
    std::vector<Out> out;
    auto project = [&](const Ctx& rc) {
        Out o;
        for (auto& it : items) {
            if (!it.expr) {
                Cell x;
                x.t = it.meta.type;
                x.v = (*rc.row)[it.column];
                o.cells.push_back(x);
            } else {
                o.cells.push_back(eval(*it.expr, rc));
            }
        }
        for (auto& k : keys)
            if (k.expr)
                o.extra.push_back(eval(*k.expr, rc));
        return o;
    };
    if (aggregated) {
        c.group = &rows;
        static const std::vector<Value> none;
        c.row = sp && !rows.empty() ? &sp->rows[rows[0]] : &none;
        out.push_back(project(c));
    } else {
        for (size_t r : rows) {
            if (sp)
                c.row = &sp->rows[r];
            out.push_back(project(c));
        }
    }
    if (st.distinct) {
        std::unordered_set<std::string> seen;
        std::vector<Out> unique;
        for (auto& o : out) {
            std::string key;
            for (auto& cell : o.cells)
                key += distinctKey(cell) + '\0';
            if (seen.insert(key).second)
                unique.push_back(std::move(o));
        }
        out = std::move(unique);
    }
    if (!keys.empty()) {
        std::stable_sort(out.begin(), out.end(), [&](const Out& a, const Out& b) {
            size_t extra = 0;
            for (auto& k : keys) {
                int r = k.item >= 0 ? orderCells(a.cells[k.item], b.cells[k.item])
                                    : orderCells(a.extra[extra], b.extra[extra]);
                if (k.expr)
                    ++extra;
                if (r != 0)
                    return k.desc ? r > 0 : r < 0;
            }
            return false;
        });
    }
    if (st.top && static_cast<int64_t>(out.size()) > *st.top)
        out.resize(static_cast<size_t>(std::max<int64_t>(0, *st.top)));
    for (auto& o : out) {
        std::vector<Value> row;
        for (size_t i = 0; i < o.cells.size(); ++i)
            row.push_back(convertOut(std::move(o.cells[i]), rs.columns[i].type));
        rs.rows.push_back(std::move(row));
    }
    s.lastRowCount = static_cast<int64_t>(rs.rows.size());
    p.rowCount = s.noCount ? -1 : s.lastRowCount;
    p.result = std::move(rs);
}

}  // namespace sandbox::sql
