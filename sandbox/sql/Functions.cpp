// The built-in functions: one table of name, arity and result type, one small function each.
#include "sandbox/sql/Functions.h"

#include <unordered_set>

#include "sandbox/Text.h"
#include "sandbox/sql/Executor.h"
#include "sandbox/sql/Parse.h"

namespace sandbox::sql {

const char* const kServerName = "SANDBOX";

namespace {

using Args = std::vector<Cell>;

// Splits 'db.dbo.name' or '[name]' as OBJECT_ID reads its argument.
std::vector<std::string> splitObjectName(const std::string& text) {
    std::vector<std::string> parts(1);
    bool bracket = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (bracket) {
            if (ch == ']' && i + 1 < text.size() && text[i + 1] == ']') {
                parts.back() += ']';
                ++i;
            } else if (ch == ']') {
                bracket = false;
            } else {
                parts.back() += ch;
            }
        } else if (ch == '[') {
            bracket = true;
        } else if (ch == '.') {
            parts.emplace_back();
        } else {
            parts.back() += ch;
        }
    }
    for (auto& p : parts)
        p = trimSpaces(p);
    return parts;
}

std::optional<DbRow> databaseOf(Executor& x, const Session& s, const Args& a) {
    return a.empty() ? x.store.findDatabase(s.database) : x.store.findDatabase(cellText(a[0]));
}

Cell dbId(Executor& x, const Session& s, const Args& a) {
    auto d = databaseOf(x, s, a);
    return d ? intCell(d->dbid, ColType::SmallInt) : nullCell(ColType::SmallInt);
}

Cell dbName(Executor& x, const Session& s, const Args& a) {
    auto d = a.empty() ? x.store.findDatabase(s.database) : x.store.findDatabase(toInt(a[0], ColType::Int));
    return d ? textCell(d->name) : nullCell(ColType::NVarChar);
}

// OBJECT_ID(name [, 'U']): a view has no id as a user table.
Cell objectId(Executor& x, const Session& s, const Args& a) {
    std::vector<std::string> parts = splitObjectName(cellText(a[0]));
    if (a.size() > 1 && !sameName(trimSpaces(cellText(a[1])), "U"))
        return nullCell();
    if (parts.size() > 3)
        return nullCell();
    auto r = x.resolve(parts, s);
    if (!r)
        return nullCell();
    if (r->view)
        return a.size() > 1 ? nullCell() : intCell(findView(r->table)->objectId);
    return intCell(objectIdFor(r->table));
}

// TYPE_NAME(user_type_id): https://learn.microsoft.com/en-us/sql/t-sql/functions/type-name-transact-sql
Cell typeName(Executor&, const Session&, const Args& a) {
    if (a[0].v.null)
        return nullCell(ColType::NVarChar);
    const SqlType* t = findType(static_cast<int>(toInt(a[0], ColType::Int)));
    return t ? textCell(t->name) : nullCell(ColType::NVarChar);
}

// DATABASEPROPERTYEX: Status, UserAccess, Updateability and Recovery come from the catalogue in
// every state; Collation is NULL while the database is not started (DATABASEPROPERTYEX, Note).
Cell databasePropertyEx(Executor& x, const Session&, const Args& a) {
    auto d = x.store.findDatabase(cellText(a[0]));
    if (!d)
        return nullCell(ColType::NVarChar);
    const std::string p = lower(trimSpaces(cellText(a[1])));
    if (p == "status")
        return textCell(d->state);
    if (p == "collation")
        return d->state == "ONLINE" ? textCell("Chinese_PRC_CI_AS") : nullCell(ColType::NVarChar);
    if (p == "recovery")
        return textCell(d->dbid <= 4 ? "SIMPLE" : "FULL");
    if (p == "useraccess")
        return textCell(d->userAccess);
    if (p == "updateability")
        return textCell(d->readOnly ? "READ_ONLY" : "READ_WRITE");
    if (p == "version")
        return textCell(std::to_string(x.product.databaseVersion));
    return nullCell(ColType::NVarChar);
}

// SERVERPROPERTY: the properties a client asks for to learn which release it talks to, whose base type
// is nvarchar(128); others are Null.
Cell serverProperty(Executor& x, const Session&, const Args& a) {
    const std::string p = lower(trimSpaces(cellText(a[0])));
    if (p == "productversion")
        return textCell(x.product.version);
    if (p == "productlevel")
        return textCell(x.product.level);
    if (p == "edition")
        return textCell(x.product.edition);
    if (p == "servername" || p == "machinename")
        return textCell(kServerName);
    if (p == "collation")
        return textCell("Chinese_PRC_CI_AS");
    // Listed for SQL Server 2019 and later; an earlier release answers NULL, as for any unknown one
    // (https://learn.microsoft.com/en-us/sql/t-sql/functions/serverproperty-transact-sql).
    if (p == "instancedefaultbackuppath" && std::atoi(x.product.version.c_str()) >= 15)
        return textCell(x.backupDir);
    return nullCell(ColType::NVarChar);
}

Cell isNull(Executor&, const Session&, const Args& a) {
    return a[0].v.null ? a[1] : a[0];
}

// Trailing spaces are not counted.
// NCHAR(n): the character of that code, 0 to 65535 (a supplementary-character collation would take
// more); Null outside.
Cell nchar(Executor&, const Session&, const Args& a) {
    const int64_t n = toInt(a[0], ColType::Int);
    if (n < 0 || n > 0xFFFF)
        return nullCell(ColType::NVarChar);
    return textCell(encodeUtf8(std::u32string(1, static_cast<char32_t>(n))));
}

// ERROR_MESSAGE() and ERROR_NUMBER(): the error the innermost CATCH block handles; Null elsewhere.
Cell errorMessage(Executor&, const Session& s, const Args&) {
    return s.caught.empty() ? nullCell(ColType::NVarChar) : textCell(s.caught.back().text);
}
Cell errorNumber(Executor&, const Session& s, const Args&) {
    return s.caught.empty() ? nullCell(ColType::Int) : intCell(s.caught.back().number);
}

Cell len(Executor&, const Session&, const Args& a) {
    std::u32string u = decodeUtf8(cellText(a[0]));
    while (!u.empty() && u.back() == U' ')
        u.pop_back();
    return intCell(static_cast<int64_t>(u.size()));
}

Cell upperCase(Executor&, const Session&, const Args& a) {
    std::string t = cellText(a[0]);
    for (auto& ch : t) {
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
    }
    return textCell(t);
}

Cell lowerCase(Executor&, const Session&, const Args& a) {
    return textCell(lower(cellText(a[0])));
}

Cell ltrim(Executor&, const Session&, const Args& a) {
    std::string t = cellText(a[0]);
    return textCell(t.substr(std::min(t.size(), t.find_first_not_of(' '))));
}

Cell rtrim(Executor&, const Session&, const Args& a) {
    std::string t = cellText(a[0]);
    size_t end = t.find_last_not_of(' ');
    return textCell(end == std::string::npos ? "" : t.substr(0, end + 1));
}

// CONCAT (2012 on): a Null argument counts as an empty string.
Cell concat(Executor&, const Session&, const Args& a) {
    std::string out;
    for (const Cell& c : a) {
        if (!c.v.null)
            out += cellText(c);
    }
    return textCell(out);
}

constexpr ResultType kSameAsArg{.sameAsFirstArg = true};
constexpr ResultType returns(ColType t, int maxChars = 0) {
    return {.sameAsFirstArg = false, .type = t, .maxChars = maxChars};
}
// "The return type is sql_variant" (DATABASEPROPERTYEX, SERVERPROPERTY), base type nvarchar(128).
constexpr ResultType kVariantNVarChar{
    .sameAsFirstArg = false, .type = ColType::NVarChar, .maxChars = 128, .variant = true};

const BuiltinFunction kFunctions[] = {
    {"db_id", 0, 1, returns(ColType::SmallInt), &dbId, true},
    {"db_name", 0, 1, returns(ColType::NVarChar, 128), &dbName, true},
    {"object_id", 1, 2, returns(ColType::Int), &objectId, true},
    {"databasepropertyex", 2, 2, kVariantNVarChar, &databasePropertyEx, true},
    {"serverproperty", 1, 1, kVariantNVarChar, &serverProperty, true},
    {"convert", 1, 2, kSameAsArg, nullptr, false},  // CONVERT and CAST: typed and run from castTo
    {"type_name", 1, 1, returns(ColType::NVarChar, 128), &typeName, true},
    {"isnull", 2, 2, kSameAsArg, &isNull, false},
    {"len", 1, 1, returns(ColType::Int), &len, true},
    {"binary_checksum", 1, 64, returns(ColType::Int), nullptr,
     false},  // run from its row (Executor::function)
    {"nchar", 1, 1, returns(ColType::NVarChar, 1), &nchar, true},
    {"error_message", 0, 0, returns(ColType::NVarChar, 4000), &errorMessage, false},
    {"error_number", 0, 0, returns(ColType::Int), &errorNumber, false},
    {"upper", 1, 1, kSameAsArg, &upperCase, true},
    {"lower", 1, 1, kSameAsArg, &lowerCase, true},
    {"ltrim", 1, 1, kSameAsArg, &ltrim, true},
    {"rtrim", 1, 1, kSameAsArg, &rtrim, true},
    {"concat", 2, 254, returns(ColType::NVarChar, 4000), &concat, false},
};

// Functions that arrived after SQL Server 2008 R2, with the major version that brought them: a
// 2008 R2 server does not know their names (195). Those the sandbox does not run are refused
// with the same error by every release.
// https://learn.microsoft.com/en-us/sql/t-sql/functions/concat-transact-sql (and iif, try-convert,
// format, string-agg: "SQL Server 2012 (11.x) and later", STRING_AGG 2017 (14.x))
struct LaterFunction {
    const char* name;
    int sinceMajor;
};
const LaterFunction kLaterFunctions[] = {
    {"concat", 11},    {"iif", 11},    {"try_convert", 11},  {"try_cast", 11},      {"try_parse", 11},
    {"format", 11},    {"choose", 11}, {"eomonth", 11},      {"datefromparts", 11}, {"string_agg", 14},
    {"concat_ws", 14}, {"trim", 14},   {"string_split", 13},
};

const GlobalVariable kGlobals[] = {
    {"spid", ColType::SmallInt, 0, false,
     [](const Executor&, const Session& s) { return intCell(s.spid, ColType::SmallInt); }},
    {"trancount", ColType::Int, 0, false,
     [](const Executor&, const Session& s) { return intCell(s.tranCount); }},
    {"rowcount", ColType::Int, 0, false,
     [](const Executor&, const Session& s) { return intCell(s.lastRowCount); }},
    {"error", ColType::Int, 0, false, [](const Executor&, const Session& s) { return intCell(s.lastError); }},
    {"lock_timeout", ColType::Int, 0, false,
     [](const Executor&, const Session& s) { return intCell(s.lockTimeoutMs); }},
    {"servername", ColType::NVarChar, 300, true,
     [](const Executor&, const Session&) { return textCell(kServerName); }},
    {"version", ColType::NVarChar, 300, true,
     [](const Executor& x, const Session&) { return textCell(x.product.versionText); }},
};

const char* const kAggregates[] = {"count", "sum", "min", "max", "avg", "checksum_agg"};

}  // namespace

const BuiltinFunction* findFunction(const std::string& name) {
    for (const auto& f : kFunctions) {
        if (name == f.name)
            return &f;
    }
    return nullptr;
}

bool arrivedAfter(const std::string& name, int major) {
    for (const auto& f : kLaterFunctions) {
        if (name == f.name)
            return major < f.sinceMajor;
    }
    return false;
}

const GlobalVariable* findGlobal(const std::string& name) {
    for (const auto& g : kGlobals) {
        if (name == g.name)
            return &g;
    }
    return nullptr;
}

bool isAggregate(const std::string& name) {
    for (const char* a : kAggregates) {
        if (name == a)
            return true;
    }
    return false;
}

bool hasAggregate(const Expr& e) {
    if (e.kind == Expr::Kind::Func && isAggregate(e.s))
        return true;
    for (const auto& a : e.args)
        if (a && hasAggregate(*a))
            return true;
    return false;
}

Cell Executor::function(const Expr& e, const Ctx& c) {
    if (isAggregate(e.s))
        return aggregate(e, c);
    if (e.s == "convert")
        return convertCell(eval(*e.args[0], c), e.castTo);
    if (e.s == "binary_checksum")
        return binaryChecksum(e, c);
    const BuiltinFunction* f = findFunction(e.s);
    std::vector<Cell> a;
    for (auto& x : e.args)
        a.push_back(eval(*x, c));
    if (f->nullInNullOut) {
        for (auto& x : a)
            if (x.v.null)
                return nullCell(typeOf(e, c.src).type);
    }
    return f->call(*this, *c.s, a);
}

// BINARY_CHECKSUM: a hash of the row's values, bytes as stored, that changes with any of them. The
// server's own function is not documented to the bit; the sandbox's is FNV-1a over each value
// with its kind, folded to int. CHECKSUM_AGG combines the rows' values order-free (XOR).
// https://learn.microsoft.com/en-us/sql/t-sql/functions/binary-checksum-transact-sql
Cell Executor::binaryChecksum(const Expr& e, const Ctx& c) {
    uint64_t h = 1469598103934665603ull;
    const auto mix = [&](const std::string& bytes) {
        for (unsigned char b : bytes) {
            h ^= b;
            h *= 1099511628211ull;
        }
        h ^= 0xFF;
        h *= 1099511628211ull;
    };
    if (e.args[0]->kind == Expr::Kind::Star) {
        for (size_t i = 0; i < c.src->cols.size(); ++i) {
            Cell x;
            x.t = c.src->cols[i].type;
            x.v = (*c.row)[i];
            mix(x.v.null ? std::string("\x01null") : cellText(x));
        }
    } else {
        for (const auto& a : e.args) {
            const Cell x = eval(*a, c);
            mix(x.v.null ? std::string("\x01null") : cellText(x));
        }
    }
    return intCell(static_cast<int32_t>(h ^ (h >> 32)));
}

Cell Executor::aggregate(const Expr& e, const Ctx& c) {
    Column type = typeOf(e, c.src);
    const Expr& arg = *e.args[0];
    std::unordered_set<std::string> seen;
    int64_t count = 0;
    Cell best = nullCell(type.type);
    double fsum = 0;
    int64_t isum = 0;
    size_t n = c.group ? c.group->size() : 0;
    for (size_t k = 0; k < n; ++k) {
        Ctx rc = c;
        rc.row = &c.src->rows[(*c.group)[k]];
        if (arg.kind == Expr::Kind::Star) {
            ++count;
            continue;
        }
        Cell v = eval(arg, rc);
        if (v.v.null)
            continue;
        if (e.distinctArg && !seen.insert(distinctKey(v)).second)
            continue;
        ++count;
        if (e.s == "min" || e.s == "max") {
            if (best.v.null || (e.s == "min" ? compareCells(v, best) < 0 : compareCells(v, best) > 0))
                best = v;
        } else if (e.s == "checksum_agg") {
            isum ^= toInt(v, ColType::Int);
        } else if ((e.s == "sum" || e.s == "avg") && type.type == ColType::Decimal) {
            best = best.v.null ? v : decimalArith("+", best, v);
        } else if (e.s == "sum" || e.s == "avg") {
            if (type.type == ColType::Float)
                fsum += toFloat(v);
            else
                isum += toInt(v, type.type);
        }
    }
    if (e.s == "count")
        return intCell(count);
    if (e.s == "checksum_agg")
        return count == 0 ? nullCell(ColType::Int) : intCell(static_cast<int32_t>(isum));
    if (e.s == "min" || e.s == "max")
        return best;
    if (count == 0)
        return nullCell(type.type);
    if (type.type == ColType::Decimal)
        return e.s == "sum" ? best : decimalArith("/", best, intCell(count));
    if (type.type == ColType::Float) {
        Cell r;
        r.t = ColType::Float;
        r.v.null = false;
        r.v.f = e.s == "avg" ? fsum / static_cast<double>(count) : fsum;
        return r;
    }
    if (e.s == "avg")
        isum /= count;
    if (type.type == ColType::Int && (isum > INT32_MAX || isum < INT32_MIN))
        raise({.number = 8115,
               .state = 2,
               .severity = 16,
               .text = "Arithmetic overflow error converting expression to data type int."},
              SqlError::Kind::RuntimeAbort);
    return intCell(isum, type.type);
}

}  // namespace sandbox::sql
