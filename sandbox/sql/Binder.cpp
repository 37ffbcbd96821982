// Binding: names of a statement resolved against its source, and the type of each expression.
#include "sandbox/sql/Executor.h"
#include "sandbox/sql/Functions.h"

#include "sandbox/Text.h"
#include "sandbox/sql/Parse.h"

namespace sandbox::sql {

void Executor::bind(const Expr& e, const Source* src, bool aggregatesAllowed, bool insideAggregate) {
    switch (e.kind) {
        case Expr::Kind::Column:
            bindColumn(e, src);
            return;
        case Expr::Kind::Variable:
            compileError({.number = 137,
                          .state = 2,
                          .severity = 15,
                          .text = "Must declare the scalar variable \"@" + e.s + "\"."});
        case Expr::Kind::Global:
            if (!findGlobal(e.s))
                compileError({.number = 137,
                              .state = 2,
                              .severity = 15,
                              .text = "Must declare the scalar variable \"@@" + e.s + "\"."});
            return;
        case Expr::Kind::Func:
            bindFunction(e, src, aggregatesAllowed, insideAggregate);
            return;
        case Expr::Kind::Star:
            compileError({.number = 102, .state = 1, .severity = 15, .text = "Incorrect syntax near '*'."});
        default:
            for (auto& a : e.args)
                bind(*a, src, aggregatesAllowed, insideAggregate);
    }
}

void Executor::bindColumn(const Expr& e, const Source* src) {
    std::string colName = e.parts.back();
    std::string written;
    for (size_t i = 0; i < e.parts.size(); ++i)
        written += (i ? "." : "") + e.parts[i];
    if (!src)
        compileError(
            {.number = 207, .state = 1, .severity = 16, .text = "Invalid column name '" + colName + "'."});
    if (!src->qualifiers.empty())
        return bindJoinedColumn(e, *src, written);
    if (e.parts.size() > 1) {
        const std::string& q = e.parts[e.parts.size() - 2];
        bool matches = src->alias.empty() ? sameName(q, src->name) : sameName(q, src->alias);
        if (!matches)
            compileError({.number = 4104,
                          .state = 1,
                          .severity = 16,
                          .text = "The multi-part identifier \"" + written + "\" could not be bound."});
    }
    for (size_t i = 0; i < src->cols.size(); ++i)
        if (sameName(src->cols[i].name, colName)) {
            e.column = static_cast<int>(i);
            src->used[i] = 1;
            return;
        }
    compileError(
        {.number = 207, .state = 1, .severity = 16, .text = "Invalid column name '" + colName + "'."});
}

// A column of a join: its table named, or the one table that has it.
void Executor::bindJoinedColumn(const Expr& e, const Source& src, const std::string& written) {
    const std::string& colName = e.parts.back();
    const bool qualified = e.parts.size() > 1;
    bool tableFound = !qualified;
    int found = -1;
    for (size_t i = 0; i < src.cols.size(); ++i) {
        if (qualified && !sameName(e.parts[e.parts.size() - 2], src.qualifiers[i]))
            continue;
        tableFound = true;
        if (!sameName(src.cols[i].name, colName))
            continue;
        if (found >= 0)
            compileError({.number = 209,
                          .state = 1,
                          .severity = 16,
                          .text = "Ambiguous column name '" + colName + "'."});
        found = static_cast<int>(i);
    }
    if (!tableFound)
        compileError({.number = 4104,
                      .state = 1,
                      .severity = 16,
                      .text = "The multi-part identifier \"" + written + "\" could not be bound."});
    if (found < 0)
        compileError(
            {.number = 207, .state = 1, .severity = 16, .text = "Invalid column name '" + colName + "'."});
    e.column = found;
    src.used[static_cast<size_t>(found)] = 1;
}

void Executor::bindFunction(const Expr& e, const Source* src, bool aggregatesAllowed, bool insideAggregate) {
    if (isAggregate(e.s)) {
        if (!aggregatesAllowed)
            compileError(
                {.number = 147,
                 .state = 1,
                 .severity = 15,
                 .text = "An aggregate may not appear in the WHERE clause unless it is in a subquery "
                         "contained in a HAVING clause or a select list, and the column being aggregated "
                         "is an outer reference."});
        if (insideAggregate)
            compileError({.number = 130,
                          .state = 1,
                          .severity = 16,
                          .text = "Cannot perform an aggregate or a subquery on an expression containing an "
                                  "aggregate or a subquery."});
        if (e.args.size() != 1)
            compileError({.number = 174,
                          .state = 1,
                          .severity = 15,
                          .text = "The " + e.s + " function requires 1 argument(s)."});
        if (e.args[0]->kind != Expr::Kind::Star)
            bind(*e.args[0], src, true, true);
        return;
    }
    // BINARY_CHECKSUM(*): every column of the row.
    if (e.s == "binary_checksum" && e.args.size() == 1 && e.args[0]->kind == Expr::Kind::Star) {
        if (!src)
            compileError({.number = 4145,
                          .state = 1,
                          .severity = 15,
                          .text = "BINARY_CHECKSUM(*) needs a FROM clause."});
        src->used.assign(src->cols.size(), 1);
        return;
    }
    const BuiltinFunction* f = findFunction(e.s);
    if (!f || arrivedAfter(e.s, product.major()))
        compileError({.number = 195,
                      .state = 10,
                      .severity = 15,
                      .text = "'" + e.s + "' is not a recognized built-in function name."});
    int n = static_cast<int>(e.args.size());
    if (n < f->minArgs || n > f->maxArgs)
        compileError(
            {.number = 174,
             .state = 1,
             .severity = 15,
             .text = "The " + e.s + " function requires " + std::to_string(f->minArgs) + " argument(s)."});
    for (auto& a : e.args)
        bind(*a, src, aggregatesAllowed, insideAggregate);
    return;
}

// A column named outside any aggregate of an aggregated select list.
const Expr* Executor::bareColumn(const Expr& e) {
    if (e.kind == Expr::Kind::Column)
        return &e;
    if (e.kind == Expr::Kind::Func && isAggregate(e.s))
        return nullptr;
    for (auto& a : e.args)
        if (auto c = bareColumn(*a))
            return c;
    return nullptr;
}

Column Executor::typeOf(const Expr& e, const Source* src) {
    switch (e.kind) {
        case Expr::Kind::Null:
            return col("", ColType::Int, 0, true);
        case Expr::Kind::Int:
            return col("", e.i > INT32_MAX || e.i < INT32_MIN ? ColType::BigInt : ColType::Int, 0, false);
        case Expr::Kind::Float: {
            if (e.s.empty())
                return col("", ColType::Float, 0, false);
            Column d = col("", ColType::Decimal, 0, false);
            d.scale = static_cast<int>(e.s.size() - e.s.find('.') - 1);
            d.precision = std::max(d.scale, static_cast<int>(e.s.size()) - 1);
            return d;
        }
        case Expr::Kind::String:
            return col("", ColType::NVarChar, std::max<int>(1, static_cast<int>(decodeUtf8(e.s).size())),
                       false);
        case Expr::Kind::Binary:
            return col("", ColType::VarBinary, std::max<int>(1, static_cast<int>(e.s.size())), false);
        case Expr::Kind::Column: {
            Column c = src->cols[e.column];
            c.name = e.parts.back();
            return c;
        }
        case Expr::Kind::Global: {
            const GlobalVariable* g = findGlobal(e.s);
            return col("", g->type, g->maxChars, g->nullable);
        }
        case Expr::Kind::Func: {
            if (e.s == "count")
                return col("", ColType::Int, 0, false);
            if (e.s == "convert") {
                Column t = e.castTo;
                t.name.clear();
                return t;
            }
            const BuiltinFunction* f = findFunction(e.s);
            if (f && !f->result.sameAsFirstArg) {
                Column t = col("", f->result.type, f->result.maxChars, true);
                t.variant = f->result.variant;
                return t;
            }
            Column a = typeOf(*e.args[0], src);
            a.name.clear();
            a.nullable = true;
            if ((e.s == "sum" || e.s == "avg") && (a.type == ColType::SmallInt || a.type == ColType::Bit))
                a.type = ColType::Int;
            return a;
        }
        case Expr::Kind::Neg: {
            Column a = typeOf(*e.args[0], src);
            a.name.clear();
            return a;
        }
        case Expr::Kind::Arith: {
            Column a = typeOf(*e.args[0], src), b = typeOf(*e.args[1], src);
            if (a.type == ColType::Float || b.type == ColType::Float)
                return col("", ColType::Float, 0, true);
            if (a.type == ColType::Decimal || b.type == ColType::Decimal) {
                Column d = col("", ColType::Decimal, 0, true);
                d.precision = 38;
                d.scale = std::max(a.scale, b.scale);
                return d;
            }
            if (a.type == ColType::NVarChar && b.type == ColType::NVarChar)
                return col("", ColType::NVarChar, std::min(4000, a.maxChars + b.maxChars), true);
            if (a.type == ColType::BigInt || b.type == ColType::BigInt)
                return col("", ColType::BigInt, 0, true);
            return col("", ColType::Int, 0, true);
        }
        default:
            return col("", ColType::Int, 0, true);
    }
}

}  // namespace sandbox::sql
