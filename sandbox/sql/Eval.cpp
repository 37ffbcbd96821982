// Evaluation of expressions over one row: logic with unknowns, comparisons, LIKE, arithmetic.
#include "sandbox/sql/Executor.h"
#include "sandbox/sql/Functions.h"

#include <cmath>

#include "sandbox/Text.h"
#include "sandbox/sql/Collation.h"

namespace sandbox::sql {

Cell Executor::eval(const Expr& e, const Ctx& c) {
    switch (e.kind) {
        case Expr::Kind::Null:
            return nullCell();
        case Expr::Kind::Int:
            return intCell(e.i, e.i > INT32_MAX || e.i < INT32_MIN ? ColType::BigInt : ColType::Int);
        case Expr::Kind::Float: {
            if (!e.s.empty()) {
                Cell d = textCell(atScale(e.s, static_cast<int>(e.s.size() - e.s.find('.') - 1)));
                d.t = ColType::Decimal;
                return d;
            }
            Cell x;
            x.t = ColType::Float;
            x.v.null = false;
            x.v.f = e.f;
            return x;
        }
        case Expr::Kind::String: {
            Cell x = textCell(e.s);
            x.ansi = !e.unicode;
            return x;
        }
        case Expr::Kind::Binary: {
            Cell x = textCell(e.s);
            x.t = ColType::VarBinary;
            return x;
        }
        case Expr::Kind::Column: {
            Cell x;
            x.t = c.src->cols[e.column].type;
            x.v = (*c.row)[e.column];
            return x;
        }
        case Expr::Kind::Global:
            return findGlobal(e.s)->value(*this, *c.s);
        case Expr::Kind::Exists:
        case Expr::Kind::Subquery:
            return subquery(e, c);
        case Expr::Kind::Neg: {
            Cell a = eval(*e.args[0], c);
            if (a.v.null)
                return a;
            if (a.t == ColType::Float) {
                a.v.f = -a.v.f;
                return a;
            }
            if (a.t == ColType::Decimal) {
                a.v.text = a.v.text[0] == '-' ? a.v.text.substr(1) : atScale("-" + a.v.text, decimalScale(a));
                return a;
            }
            return intCell(-toInt(a, ColType::Int), isIntType(a.t) ? a.t : ColType::Int);
        }
        case Expr::Kind::Not:
        case Expr::Kind::And:
        case Expr::Kind::Or:
            return logic(e, c);
        case Expr::Kind::Compare:
        case Expr::Kind::IsNull:
        case Expr::Kind::Between:
            return predicate(e, c);
        case Expr::Kind::Like:
            return like(e, c);
        case Expr::Kind::In:
            return inList(e, c);
        case Expr::Kind::Arith:
            return arith(e, c);
        case Expr::Kind::Func:
            return function(e, c);
        default:
            return nullCell();
    }
}

// NOT, AND, OR over true, false and unknown.
Cell Executor::logic(const Expr& e, const Ctx& c) {
    switch (e.kind) {
        case Expr::Kind::Not: {
            auto b = truth(eval(*e.args[0], c));
            return boolCell(b ? std::optional<bool>(!*b) : std::nullopt);
        }
        case Expr::Kind::And: {
            auto a = truth(eval(*e.args[0], c));
            if (a && !*a)
                return boolCell(false);
            auto b = truth(eval(*e.args[1], c));
            if (b && !*b)
                return boolCell(false);
            if (a && b)
                return boolCell(true);
            return boolCell(std::nullopt);
        }
        case Expr::Kind::Or: {
            auto a = truth(eval(*e.args[0], c));
            if (a && *a)
                return boolCell(true);
            auto b = truth(eval(*e.args[1], c));
            if (b && *b)
                return boolCell(true);
            if (a && b)
                return boolCell(false);
            return boolCell(std::nullopt);
        }
        default:
            return nullCell();
    }
}

Cell Executor::predicate(const Expr& e, const Ctx& c) {
    switch (e.kind) {
        case Expr::Kind::Compare: {
            Cell a = eval(*e.args[0], c), b = eval(*e.args[1], c);
            if (a.v.null || b.v.null)
                return boolCell(std::nullopt);
            int r = compareCells(a, b);
            const std::string& op = e.op;
            bool v = op == "="    ? r == 0
                     : op == "<>" ? r != 0
                     : op == "<"  ? r < 0
                     : op == ">"  ? r > 0
                     : op == "<=" ? r <= 0
                                  : r >= 0;
            return boolCell(v);
        }
        case Expr::Kind::IsNull: {
            Cell v = eval(*e.args[0], c);
            return boolCell(v.v.null != e.negated);
        }
        case Expr::Kind::Between: {
            Cell v = eval(*e.args[0], c), lo = eval(*e.args[1], c), hi = eval(*e.args[2], c);
            if (v.v.null || lo.v.null || hi.v.null)
                return boolCell(std::nullopt);
            bool in = compareCells(v, lo) >= 0 && compareCells(v, hi) <= 0;
            return boolCell(in != e.negated);
        }
        default:
            return nullCell();
    }
}

Cell Executor::like(const Expr& e, const Ctx& c) {
    Cell v = eval(*e.args[0], c), p = eval(*e.args[1], c);
    std::optional<char32_t> escape;
    bool unicode = !v.ansi || !p.ansi;  // any nchar/nvarchar operand: Unicode pattern matching
    if (e.args.size() > 2) {
        Cell x = eval(*e.args[2], c);
        unicode = unicode || !x.ansi;
        if (!x.v.null) {
            std::u32string esc = decodeUtf8(cellText(x));
            if (esc.size() != 1)
                raise({.number = 506,
                       .state = 1,
                       .severity = 16,
                       .text = "The invalid escape character \"" + cellText(x) +
                               "\" was specified in a LIKE predicate."});
            escape = esc[0];
        }
    }
    if (v.v.null || p.v.null)
        return boolCell(std::nullopt);
    bool m = sql::likeMatch(cellText(v), cellText(p), escape, unicode);
    return boolCell(m != e.negated);
}

Cell Executor::inList(const Expr& e, const Ctx& c) {
    Cell v = eval(*e.args[0], c);
    if (v.v.null)
        return boolCell(std::nullopt);
    bool unknown = false;
    for (size_t i = 1; i < e.args.size(); ++i) {
        Cell x = eval(*e.args[i], c);
        if (x.v.null) {
            unknown = true;
            continue;
        }
        if (compareCells(v, x) == 0)
            return boolCell(!e.negated);
    }
    if (unknown)
        return boolCell(std::nullopt);
    return boolCell(e.negated);
}

// Decimals add and subtract digit for digit at the larger scale; a product or quotient goes through
// long double at the scale the server would give it (capped at 6 for a quotient here).
// https://learn.microsoft.com/en-us/sql/t-sql/data-types/precision-scale-and-length-transact-sql
int decimalScale(const Cell& c) {
    if (c.t != ColType::Decimal)
        return 0;
    const size_t point = c.v.text.find('.');
    return point == std::string::npos ? 0 : static_cast<int>(c.v.text.size() - point - 1);
}

Cell decimalArith(const std::string& op, const Cell& a, const Cell& b) {
    const int sa = decimalScale(a), sb = decimalScale(b);
    const int scale = op == "*" ? sa + sb : op == "/" ? std::max(6, sa) : std::max(sa, sb);
    const auto scaled = [&](const Cell& c) {
        const std::string t = atScale(cellText(c), scale);
        std::string digits;
        for (char ch : t)
            if (ch != '.')
                digits += ch;
        return static_cast<__int128>(std::stoll(digits));
    };
    std::string text;
    if (op == "+" || op == "-") {
        const __int128 r = op == "+" ? scaled(a) + scaled(b) : scaled(a) - scaled(b);
        const bool negative = r < 0;
        std::string d = std::to_string(static_cast<long long>(negative ? -r : r));
        if (static_cast<int>(d.size()) <= scale)
            d.insert(0, static_cast<size_t>(scale) - d.size() + 1, '0');
        text = (negative ? "-" : "") + (scale > 0 ? d.substr(0, d.size() - static_cast<size_t>(scale)) + "." +
                                                        d.substr(d.size() - static_cast<size_t>(scale))
                                                  : d);
    } else {
        const long double x = std::strtold(cellText(a).c_str(), nullptr);
        const long double y = std::strtold(cellText(b).c_str(), nullptr);
        if ((op == "/" || op == "%") && y == 0)
            raise({.number = 8134, .state = 1, .severity = 16, .text = "Divide by zero error encountered."},
                  SqlError::Kind::RuntimeAbort);
        const long double r = op == "*" ? x * y : op == "/" ? x / y : std::fmod(x, y);
        char buf[128];
        std::snprintf(buf, sizeof buf, "%.*Lf", scale, r);
        text = buf;
    }
    Cell r = textCell(atScale(text, scale));
    r.t = ColType::Decimal;
    return r;
}

Cell Executor::arith(const Expr& e, const Ctx& c) {
    Cell a = eval(*e.args[0], c), b = eval(*e.args[1], c);
    if (a.v.null || b.v.null)
        return nullCell();
    const auto numeric = [](ColType t) {
        return isIntType(t) || t == ColType::Float || t == ColType::Decimal;
    };
    bool text = !numeric(a.t) && !numeric(b.t);
    if (text) {
        if (e.op != "+")
            raise({.number = 8117,
                   .state = 1,
                   .severity = 16,
                   .text = "Operand data type nvarchar is invalid for " + e.op + " operator."});
        return textCell(a.v.text + b.v.text);
    }
    if ((a.t == ColType::Decimal || b.t == ColType::Decimal) && a.t != ColType::Float &&
        b.t != ColType::Float)
        return decimalArith(e.op, a, b);
    if (a.t == ColType::Float || b.t == ColType::Float) {
        double x = toFloat(a), y = toFloat(b);
        Cell r;
        r.t = ColType::Float;
        r.v.null = false;
        if ((e.op == "/" || e.op == "%") && y == 0)
            raise({.number = 8134, .state = 1, .severity = 16, .text = "Divide by zero error encountered."},
                  SqlError::Kind::RuntimeAbort);
        r.v.f = e.op == "+"   ? x + y
                : e.op == "-" ? x - y
                : e.op == "*" ? x * y
                : e.op == "/" ? x / y
                              : std::fmod(x, y);
        return r;
    }
    ColType t = (a.t == ColType::BigInt || b.t == ColType::BigInt) ? ColType::BigInt : ColType::Int;
    int64_t x = toInt(a, t), y = toInt(b, t);
    if ((e.op == "/" || e.op == "%") && y == 0)
        raise({.number = 8134, .state = 1, .severity = 16, .text = "Divide by zero error encountered."},
              SqlError::Kind::RuntimeAbort);
    int64_t r = e.op == "+" ? x + y : e.op == "-" ? x - y : e.op == "*" ? x * y : e.op == "/" ? x / y : x % y;
    if (t == ColType::Int && (r > INT32_MAX || r < INT32_MIN))
        raise({.number = 8115,
               .state = 2,
               .severity = 16,
               .text = "Arithmetic overflow error converting expression to data type int."},
              SqlError::Kind::RuntimeAbort);
    return intCell(r, t);
}

}  // namespace sandbox::sql
