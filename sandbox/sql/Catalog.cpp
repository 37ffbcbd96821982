// Name resolution: a table of the installation or a catalogue view, opened as a source of rows.
#include "sandbox/sql/Executor.h"

#include <cstdio>

#include "sandbox/Text.h"
#include "sandbox/sql/Errors.h"
#include "sandbox/sql/Parse.h"

namespace sandbox::sql {

const char* const kSystemDb = "TqSystem";

// The ids are those of sys.types:
// https://learn.microsoft.com/en-us/sql/relational-databases/system-catalog-views/sys-types-transact-sql
const SqlType kTypes[] = {
    {"image", 34, 16},        {"text", 35, 16},       {"uniqueidentifier", 36, 16},
    {"date", 40, 3},          {"datetime2", 42, 8},   {"tinyint", 48, 1},
    {"smallint", 52, 2},      {"int", 56, 4},         {"smalldatetime", 58, 4},
    {"real", 59, 4},          {"money", 60, 8},       {"datetime", 61, 8},
    {"float", 62, 8},         {"ntext", 99, 16},      {"bit", 104, 1},
    {"decimal", 106, 17},     {"numeric", 108, 17},   {"bigint", 127, 8},
    {"varbinary", 165, 8000}, {"varchar", 167, 8000}, {"binary", 173, 8000},
    {"char", 175, 8000},      {"timestamp", 189, 8},  {"nvarchar", 231, 8000},
    {"nchar", 239, 8000},
};
const size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];

const SqlType* findType(int id) {
    for (const auto& t : kTypes)
        if (t.id == id)
            return &t;
    return nullptr;
}

int typeIdOf(ColType t) {
    switch (t) {
        case ColType::Int:
            return 56;
        case ColType::SmallInt:
            return 52;
        case ColType::BigInt:
            return 127;
        case ColType::Bit:
            return 104;
        case ColType::Float:
            return 62;
        case ColType::DateTime:
            return 61;
        case ColType::VarBinary:
            return 165;
        case ColType::Decimal:
            return 106;
        case ColType::NVarChar:
            break;
    }
    return 231;
}

uint32_t objectIdFor(const std::string& name) {
    uint32_t h = 2166136261u;
    for (char c : lower(name)) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    return 1000 + (h % 2000000000u);
}

bool Executor::isSystemDb(const std::string& db) const {
    return sameName(db, kSystemDb);
}

std::optional<Resolved> Executor::resolve(const std::vector<std::string>& parts, const Session& s) {
    if (parts.empty() || parts.size() > 3)
        return std::nullopt;
    std::string table = parts.back();
    std::string schema = parts.size() >= 2 ? parts[parts.size() - 2] : "";
    std::string dbname = parts.size() == 3 ? parts[0] : s.database;
    auto d = store.findDatabase(dbname);
    if (!d)
        return std::nullopt;
    if (parts.size() == 3 && sessions.count(s.spid))
        sessions[s.spid].usedDatabases.insert(d->name);
    if (!schema.empty() && !sameName(schema, "dbo") && !sameName(schema, "sys"))
        return std::nullopt;
    if (findView(lower(table)))
        return Resolved{d->name, lower(table), true};
    if (!sameName(schema, "sys") && isSystemDb(d->name))
        if (auto t = store.findUserTable(table))
            return Resolved{d->name, *t, false};
    return std::nullopt;
}

Source Executor::open(const sql::TableRef& ref, const Session& s) {
    auto r = resolve(ref.parts, s);
    if (!r)
        compileError({.number = 208,
                      .state = 1,
                      .severity = 16,
                      .text = "Invalid object name '" + ref.written + "'."});
    Source src;
    src.name = r->table;
    src.alias = ref.alias;
    src.updLock = ref.updLock;
    if (!r->view) {
        src.userTable = true;
        loadTable(src);
    } else {
        findView(r->table)->fill(*this, src, s, r->database);
        dropLaterColumns(src, r->table, product.major());
    }
    src.used.assign(src.cols.size(), 0);
    return src;
}

// Tables are read while filtering (see filter): only the rows a statement keeps are held.
void Executor::loadTable(Source& src) {
    src.cols = store.tableColumns(src.name);
    src.used.assign(src.cols.size(), 0);
}

void readRow(Query& q, const Source& src, std::vector<Value>& row) {
    const std::vector<Column>& cols = src.cols;
    for (size_t c = 0; c < cols.size(); ++c) {
        if (!src.used[c])
            continue;
        int k = static_cast<int>(c) + 1;
        Value& v = row[c];
        v.null = q.isNull(k);
        if (v.null)
            continue;
        if (isIntType(cols[c].type)) {
            v.i = q.i(k);
        } else if (cols[c].type == ColType::Float) {
            v.f = q.f(k);
        } else if (cols[c].type == ColType::Decimal) {
            // The store may hold the number as INTEGER, REAL or TEXT; it is read at the column's scale,
            // a REAL with all the digits it has (SQLite's own text of it keeps only 15).
            char digits[40];
            if (q.isReal(k))
                std::snprintf(digits, sizeof digits, "%.17g", q.f(k));
            v.text = atScale(q.isReal(k) ? std::string(digits) : q.s(k), cols[c].scale);
        } else {
            v.text = q.bytes(k);
        }
    }
}

}  // namespace sandbox::sql
