// SELECT: the select list bound, rows filtered, aggregated, made distinct, ordered and cut by TOP.
#include <algorithm>
#include <unordered_set>

#include "sandbox/sql/Executor.h"
#include "sandbox/sql/Functions.h"
#include "sandbox/sql/Parse.h"

namespace sandbox::sql {

namespace {

using Ctx = Executor::Ctx;

// One item of the select list, with * expanded.
struct Item {
    const Expr* expr = nullptr;
    int column = -1;  // a column of the source (from *)
    Column meta;
};

// ORDER BY: an item of the select list, or an expression over the source.
struct Key {
    int item = -1;
    const Expr* expr = nullptr;
    bool desc = false;
};

// A row of the result before conversion to the column types.
struct Out {
    std::vector<Cell> cells;
    std::vector<Cell> extra;  // ORDER BY expressions that are not in the list
};

const std::vector<Value> kNoRow;

class SelectRun {
public:
    SelectRun(Executor& x, const Statement& st, Session& s) : x_(x), st_(st), s_(s) {
        if (st.from)
            src_ = st.joins.empty() ? x.open(*st.from, s) : x.openJoined(st, s);
    }
    void bindList();
    void bindOrder();
    ResultSet run();

private:
    Source* source() { return src_ ? &*src_ : nullptr; }
    void expandStar(const SelectItem& it);
    void expandJoinedStar(Source& src, const std::string& qualifier);
    void checkAggregated();
    Key keyFor(const OrderItem& o);
    int aliasItem(const Expr& e) const;
    int columnItem(const Expr& e) const;
    std::vector<size_t> rows(Ctx& c);
    Out project(const Ctx& c);
    std::vector<Out> outputs();
    void distinct(std::vector<Out>& out) const;
    void sort(std::vector<Out>& out) const;

    Executor& x_;
    const Statement& st_;
    Session& s_;
    std::optional<Source> src_;
    std::vector<Item> items_;
    std::vector<Key> keys_;
    bool aggregated_ = false;
};

void SelectRun::expandStar(const SelectItem& it) {
    Source* sp = source();
    if (!sp)
        compileError(
            {.number = 263, .state = 1, .severity = 16, .text = "Must specify table to select from."});
    if (!sp->qualifiers.empty()) {
        expandJoinedStar(*sp, it.starQualifier);
        return;
    }
    if (!it.starQualifier.empty() && !sameName(it.starQualifier, sp->alias.empty() ? sp->name : sp->alias))
        compileError({.number = 107,
                      .state = 1,
                      .severity = 15,
                      .text = "The column prefix '" + it.starQualifier +
                              "' does not match with a table name or alias name used in the query."});
    for (size_t k = 0; k < sp->cols.size(); ++k) {
        items_.push_back({nullptr, static_cast<int>(k), sp->cols[k]});
        sp->used[k] = 1;
    }
}

// * over a join: every column of every table; t.*: those of t.
void SelectRun::expandJoinedStar(Source& src, const std::string& qualifier) {
    for (size_t k = 0; k < src.cols.size(); ++k) {
        if (!qualifier.empty() && !sameName(qualifier, src.qualifiers[k]))
            continue;
        items_.push_back({nullptr, static_cast<int>(k), src.cols[k]});
        src.used[k] = 1;
    }
    if (items_.empty())
        compileError({.number = 107,
                      .state = 1,
                      .severity = 15,
                      .text = "The column prefix '" + qualifier +
                              "' does not match with a table name or alias name used in the query."});
}

void SelectRun::bindList() {
    for (auto& it : st_.items) {
        if (!it.expr) {
            expandStar(it);
            continue;
        }
        x_.bind(*it.expr, source(), true, false);
        aggregated_ = aggregated_ || hasAggregate(*it.expr);
        Item item{it.expr.get(), -1, x_.typeOf(*it.expr, source())};
        if (!it.alias.empty())
            item.meta.name = it.alias;
        items_.push_back(item);
    }
    if (st_.where)
        x_.bind(*st_.where, source(), false, false);
    if (aggregated_)
        checkAggregated();
}

// Without GROUP BY, an aggregated list names no column outside an aggregate.
void SelectRun::checkAggregated() {
    for (auto& it : items_) {
        const Expr* bare = it.expr ? x_.bareColumn(*it.expr) : nullptr;
        if (it.expr && !bare)
            continue;
        std::string name = src_->cols[it.expr ? bare->column : it.column].name;
        compileError({.number = 8120,
                      .state = 1,
                      .severity = 16,
                      .text = "Column '" + src_->name + "." + name +
                              "' is invalid in the select list because it is not contained in either an "
                              "aggregate function or the GROUP BY clause."});
    }
}

// The item whose alias an ORDER BY name is.
int SelectRun::aliasItem(const Expr& e) const {
    if (e.kind != Expr::Kind::Column || e.parts.size() != 1)
        return -1;
    for (const auto& it : st_.items) {
        if (it.alias.empty() || !sameName(it.alias, e.parts[0]))
            continue;
        for (size_t j = 0; j < items_.size(); ++j)
            if (items_[j].expr == it.expr.get())
                return static_cast<int>(j);
    }
    return -1;
}

// The item that shows the bound column an ORDER BY expression is.
int SelectRun::columnItem(const Expr& e) const {
    if (e.kind != Expr::Kind::Column)
        return -1;
    for (size_t j = 0; j < items_.size(); ++j) {
        const Expr* ie = items_[j].expr;
        int ic = ie ? (ie->kind == Expr::Kind::Column ? ie->column : -1) : items_[j].column;
        if (ic == e.column)
            return static_cast<int>(j);
    }
    return -1;
}

Key SelectRun::keyFor(const OrderItem& o) {
    Key k;
    k.desc = o.desc;
    if (o.expr->kind == Expr::Kind::Int) {
        if (o.expr->i < 1 || o.expr->i > static_cast<int64_t>(items_.size()))
            compileError({.number = 108,
                          .state = 1,
                          .severity = 16,
                          .text = "The ORDER BY position number " + std::to_string(o.expr->i) +
                                  " is out of range of the number of items in the select list."});
        k.item = static_cast<int>(o.expr->i - 1);
        return k;
    }
    k.item = aliasItem(*o.expr);
    if (k.item >= 0)
        return k;
    x_.bind(*o.expr, source(), false, false);
    k.item = columnItem(*o.expr);
    if (k.item >= 0)
        return k;
    if (st_.distinct)
        compileError(
            {.number = 145,
             .state = 1,
             .severity = 15,
             .text = "ORDER BY items must appear in the select list if SELECT DISTINCT is specified."});
    k.expr = o.expr.get();
    return k;
}

void SelectRun::bindOrder() {
    for (auto& o : st_.order)
        keys_.push_back(keyFor(o));
}

std::vector<size_t> SelectRun::rows(Ctx& c) {
    if (src_)
        return x_.filter(*src_, st_.where.get(), s_);
    c.row = &kNoRow;
    if (!st_.where || truth(x_.eval(*st_.where, c)).value_or(false))
        return {0};
    return {};
}

Out SelectRun::project(const Ctx& c) {
    Out o;
    for (auto& it : items_) {
        if (!it.expr) {
            Cell x;
            x.t = it.meta.type;
            x.v = (*c.row)[it.column];
            o.cells.push_back(x);
        } else {
            o.cells.push_back(x_.eval(*it.expr, c));
        }
    }
    for (auto& k : keys_)
        if (k.expr)
            o.extra.push_back(x_.eval(*k.expr, c));
    return o;
}

std::vector<Out> SelectRun::outputs() {
    Ctx c;
    c.s = &s_;
    c.src = source();
    std::vector<size_t> kept = rows(c);
    std::vector<Out> out;
    if (aggregated_) {
        c.group = &kept;
        c.row = src_ && !kept.empty() ? &src_->rows[kept[0]] : &kNoRow;
        out.push_back(project(c));
        return out;
    }
    for (size_t r : kept) {
        if (src_)
            c.row = &src_->rows[r];
        out.push_back(project(c));
    }
    return out;
}

void SelectRun::distinct(std::vector<Out>& out) const {
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

void SelectRun::sort(std::vector<Out>& out) const {
    std::stable_sort(out.begin(), out.end(), [&](const Out& a, const Out& b) {
        size_t extra = 0;
        for (auto& k : keys_) {
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

ResultSet SelectRun::run() {
    ResultSet rs;
    for (auto& it : items_)
        rs.columns.push_back(it.meta);
    std::vector<Out> out = outputs();
    if (st_.distinct)
        distinct(out);
    if (!keys_.empty())
        sort(out);
    if (st_.top && static_cast<int64_t>(out.size()) > *st_.top)
        out.resize(static_cast<size_t>(std::max<int64_t>(0, *st_.top)));
    for (auto& o : out) {
        std::vector<Value> row;
        for (size_t i = 0; i < o.cells.size(); ++i)
            row.push_back(convertOut(std::move(o.cells[i]), rs.columns[i].type));
        rs.rows.push_back(std::move(row));
    }
    return rs;
}

}  // namespace

// The rows of the source that pass the condition, in the source's order. A table's rows come
// from the store here, and only those that pass are kept in the source.
std::vector<size_t> Executor::filter(Source& src, const Expr* where, const Session& s) {
    std::vector<size_t> out;
    Ctx c;
    c.s = &s;
    c.src = &src;
    if (!src.parts.empty())
        join(src, s);
    if (src.userTable) {
        if (src.updLock)
            lockToWrite(const_cast<Session&>(s), src.name);
        else
            lockToRead(s, src.name);
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

void Executor::select(const Statement& st, Session& s, Piece& p, bool compileOnly) {
    SelectRun run(*this, st, s);
    run.bindList();
    run.bindOrder();
    if (compileOnly)
        return;
    p.result = run.run();
    s.lastRowCount = static_cast<int64_t>(p.result->rows.size());
    p.rowCount = s.noCount ? -1 : s.lastRowCount;
}

}  // namespace sandbox::sql
