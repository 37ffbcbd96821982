// INSERT ... VALUES with typed literals, identity columns and SET IDENTITY_INSERT.
#include "sandbox/sql/Executor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sandbox/Text.h"
#include "sandbox/sql/Parse.h"

// The identity errors and their texts:
// https://learn.microsoft.com/en-us/sql/relational-databases/errors-events/database-engine-events-and-errors-0-to-999
// (544, 545) and .../database-engine-events-and-errors-8000-to-8999 (8101, 8106, 8107); the rule of one
// table per session: https://learn.microsoft.com/en-us/sql/t-sql/statements/set-identity-insert-transact-sql

namespace sandbox::sql {

namespace {

// Datetime text as the store keeps it ("2003-01-31 23:59:59.997"), from the ISO forms a script
// writes ("2003-01-31T23:59:59.997", "2003-01-31") or the store's own; milliseconds rounded to the
// type's 1/300 s. Empty: not a date.
std::string datetimeText(const std::string& in) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, n = 0;
    double sec = 0;
    std::string t = trimSpaces(in);
    int got = std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &n);
    if (got != 3 || mo < 1 || mo > 12 || d < 1 || d > 31)
        return {};
    if (static_cast<size_t>(n) < t.size()) {
        int m = 0;
        if (std::sscanf(t.c_str() + n, "%*1[ T]%2d:%2d:%lf%n", &h, &mi, &sec, &m) != 3 ||
            static_cast<size_t>(n + m) != t.size() || h > 23 || mi > 59 || sec >= 60)
            return {};
    }
    auto ticks = static_cast<int64_t>(std::llround((h * 3600.0 + mi * 60.0 + sec) * 300.0));
    int64_t ms = std::llround(static_cast<double>(ticks) * 1000.0 / 300.0);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02lld:%02lld:%02lld.%03lld", y, mo, d,
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return buf;
}

[[noreturn]] void conversionFailed(const Column& c, const Cell& v) {
    if (c.type == ColType::VarBinary)
        raise({.number = 257,
               .state = 3,
               .severity = 16,
               .text = "Implicit conversion from data type " + std::string(v.ansi ? "varchar" : "nvarchar") +
                       " to varbinary is not allowed. Use the CONVERT function to run this query."});
    raise({.number = 241,
           .state = 1,
           .severity = 16,
           .text = "Conversion failed when converting date and/or time from character string."});
}

// Binds one value as the column's type stores it.
void bindValue(Query& q, int k, const Column& c, Cell v) {
    if (v.v.null) {
        q.bindNull(k);
        return;
    }
    if (isIntType(c.type)) {
        int64_t i = toInt(v, c.type);
        q.bind(k, c.type == ColType::Bit ? int64_t{i != 0} : i);
    } else if (c.type == ColType::Float) {
        q.bindDouble(k, toFloat(v));
    } else if (c.type == ColType::Decimal) {
        const std::string n = atScale(cellText(v), c.scale);
        const size_t digits = n.size() - (n[0] == '-') - (c.scale > 0 ? 1 : 0);
        if (n.empty())
            raise({.number = 8114,
                   .state = 5,
                   .severity = 16,
                   .text = "Error converting data type " + std::string(v.ansi ? "varchar" : "nvarchar") +
                           " to numeric."});
        if (static_cast<int>(digits) > c.precision &&
            !(digits == 1 + static_cast<size_t>(c.scale) && n.find_first_not_of("-0.") == std::string::npos))
            raise({.number = 8115,
                   .state = 8,
                   .severity = 16,
                   .text = "Arithmetic overflow error converting " +
                           std::string(isIntType(v.t) ? "int" : "numeric") + " to data type numeric."});
        q.bind(k, n);
    } else if (c.type == ColType::DateTime) {
        std::string t = datetimeText(cellText(v));
        if (t.empty())
            conversionFailed(c, v);
        q.bind(k, t);
    } else if (c.type == ColType::VarBinary) {
        if (v.t != ColType::VarBinary)
            conversionFailed(c, v);
        if (static_cast<int>(v.v.text.size()) > c.maxChars)
            raise({.number = 8152,
                   .state = 14,
                   .severity = 16,
                   .text = "String or binary data would be truncated."});
        q.bindBlob(k, v.v.text);
    } else {
        std::string t = cellText(v);
        if (static_cast<int>(decodeUtf8(t).size()) > c.maxChars)
            raise({.number = 8152,
                   .state = 13,
                   .severity = 16,
                   .text = "String or binary data would be truncated."});
        q.bind(k, t);
    }
}

}  // namespace

// The columns an INSERT fills: those named, or all but the identity column.
std::vector<size_t> Executor::insertTargets(const Statement& st, const Source& src) {
    std::vector<size_t> target;
    for (const auto& n : st.names) {
        size_t i = 0;
        while (i < src.cols.size() && !sameName(src.cols[i].name, n))
            ++i;
        if (i == src.cols.size())
            compileError(
                {.number = 207, .state = 1, .severity = 16, .text = "Invalid column name '" + n + "'."});
        target.push_back(i);
    }
    for (size_t i = 0; i < src.cols.size(); ++i)
        if (st.names.empty() && !src.cols[i].identity)
            target.push_back(i);
    return target;
}

// IDENTITY_INSERT is read when the statement runs, not when the batch is compiled, so that a SET
// earlier in the same batch counts.
void Executor::checkIdentity(const Statement& st, const Source& src, const std::vector<size_t>& target,
                             const Session& s) {
    const bool explicitOn = sameName(s.identityInsert, src.name);
    bool hasIdentity = false, namesIdentity = false;
    for (size_t i = 0; i < src.cols.size(); ++i) {
        hasIdentity = hasIdentity || src.cols[i].identity;
    }
    for (size_t i : target)
        namesIdentity = namesIdentity || src.cols[i].identity;
    if (st.names.empty() && explicitOn)
        raise({.number = 8101,
               .state = 1,
               .severity = 16,
               .text = "An explicit value for the identity column in table '" + src.name +
                       "' can only be specified when a column list is used and IDENTITY_INSERT is ON."});
    if (namesIdentity && !explicitOn)
        raise({.number = 544,
               .state = 1,
               .severity = 16,
               .text = "Cannot insert explicit value for identity column in table '" + src.name +
                       "' when IDENTITY_INSERT is set to OFF."});
    if (hasIdentity && explicitOn && !namesIdentity)
        raise({.number = 545,
               .state = 1,
               .severity = 16,
               .text = "Explicit value must be specified for identity column in table '" + src.name +
                       "' either when IDENTITY_INSERT is set to ON or when a replication user is inserting "
                       "into a NOT FOR REPLICATION identity column."});
}

void Executor::insert(const Statement& st, Session& s, Piece& p, bool compileOnly) {
    Source src = openToWrite(*st.from, s);
    std::vector<size_t> target = insertTargets(st, src);
    for (const auto& row : st.values) {
        if (row.size() != target.size())
            compileError(
                {.number = row.size() > target.size() ? 110 : 109,
                 .state = 1,
                 .severity = 15,
                 .text = row.size() > target.size()
                             ? "There are fewer columns in the INSERT statement than values specified in the "
                               "VALUES clause. The number of values in the VALUES clause must match the "
                               "number of columns specified in the INSERT statement."
                             : "There are more columns in the INSERT statement than values specified in the "
                               "VALUES clause. The number of values in the VALUES clause must match the "
                               "number of columns specified in the INSERT statement."});
        for (const auto& e : row)
            bind(*e, nullptr, false, false);
    }
    if (compileOnly)
        return;
    checkIdentity(st, src, target, s);
    beforeWrite(s);
    writeRows(st, src, target, s);
    s.lastRowCount = static_cast<int64_t>(st.values.size());
    p.rowCount = s.noCount ? -1 : s.lastRowCount;
}

void Executor::writeRows(const Statement& st, const Source& src, const std::vector<size_t>& target,
                         Session& s) {
    std::string names, marks;
    int identity = -1;
    for (size_t i = 0; i < src.cols.size(); ++i)
        if (src.cols[i].identity && std::find(target.begin(), target.end(), i) == target.end())
            identity = static_cast<int>(i);
    for (size_t i : target) {
        names += (names.empty() ? "\"" : ", \"") + src.cols[i].name + "\"";
        marks += marks.empty() ? "?" : ", ?";
    }
    if (identity >= 0) {
        names += (names.empty() ? "\"" : ", \"") + src.cols[identity].name + "\"";
        marks += marks.empty() ? "?" : ", ?";
    }
    StatementScope scope(store);
    Query q(store.handle(), "INSERT INTO \"" + src.name + "\" (" + names + ") VALUES (" + marks + ")");
    Ctx c{.s = &s};
    for (const auto& row : st.values) {
        q.reset();
        for (size_t k = 0; k < row.size(); ++k)
            bindValue(q, static_cast<int>(k) + 1, src.cols[target[k]], eval(*row[k], c));
        if (identity >= 0) {
            // The next value is one past the largest, as a seed of 1 and increment of 1 give.
            Query next(store.handle(), "SELECT coalesce(max(\"" + src.cols[identity].name +
                                           "\"), 0) + 1 FROM \"" + src.name + "\"");
            next.step();
            q.bind(static_cast<int>(row.size()) + 1, next.i(0));
        }
        q.step();
    }
    scope.release();
}

// SET IDENTITY_INSERT t ON|OFF: one table per session at a time.
void Executor::identityInsert(const Statement& st, Session& s) {
    // A three-part name reaches the catalogue from any database, as the undo script's do.
    TableRef ref;
    ref.parts = st.from ? st.from->parts : std::vector<std::string>{st.names[0]};
    ref.written = st.names[1];
    Source src = open(ref, s);
    bool hasIdentity = false;
    for (const auto& c : src.cols)
        hasIdentity = hasIdentity || c.identity;
    if (!src.userTable || !hasIdentity)
        raise({.number = 8106,
               .state = 1,
               .severity = 16,
               .text = "Table '" + src.name +
                       "' does not have the identity property. Cannot perform SET operation."});
    if (st.optionValue == "OFF") {
        if (sameName(s.identityInsert, src.name))
            s.identityInsert.clear();
        return;
    }
    if (!s.identityInsert.empty() && !sameName(s.identityInsert, src.name))
        raise({.number = 8107,
               .state = 1,
               .severity = 16,
               .text = "IDENTITY_INSERT is already ON for table '" + s.database + ".dbo." + s.identityInsert +
                       "'. Cannot perform SET operation for table '" + src.name + "'."});
    s.identityInsert = src.name;
}

}  // namespace sandbox::sql
