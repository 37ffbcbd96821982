#include "sandbox/Engine.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <unordered_set>

#include "sandbox/Text.h"
#include "sandbox/sqlParse.h"
#include "sandbox/sqlText.h"

namespace sandbox::seeds {
extern const char* const schemaSql;
extern const char* const demoSql;
}  // namespace sandbox::seeds

namespace sandbox {

namespace {

using sql::Expr;
using sql::sameName;
using sql::Statement;

const char* const kSystemDb = "TqSystem";

// A value with the type the client will see.
struct Cell {
    Value v;
    ColType t = ColType::Int;
    bool ansi = false;  // a varchar literal rather than nvarchar text (only for conversion messages)
};

bool isIntType(ColType t) {
    return t == ColType::Int || t == ColType::SmallInt || t == ColType::BigInt || t == ColType::Bit;
}

Message makeMessage(int number, int severity, int state, std::string text) {
    Message m;
    m.number = number;
    m.severity = severity;
    m.state = state;
    m.text = std::move(text);
    return m;
}

// kind decides what the error does to the batch: a compile error (name resolution, binding) ends
// the batch but, as on the real server, leaves an open transaction alone even under XACT_ABORT;
// a runtime error ends only its statement unless XACT_ABORT is on.
struct SqlError {
    enum class Kind { Runtime, RuntimeAbort, Compile };
    Message m;
    Kind kind = Kind::Runtime;
};

[[noreturn]] void raise(int number, int severity, int state, std::string text,
                        SqlError::Kind kind = SqlError::Kind::Runtime) {
    throw SqlError{makeMessage(number, severity, state, std::move(text)), kind};
}
[[noreturn]] void compileError(int number, int severity, int state, std::string text) {
    raise(number, severity, state, std::move(text), SqlError::Kind::Compile);
}

std::string typeName(ColType t) {
    switch (t) {
        case ColType::Int:
            return "int";
        case ColType::SmallInt:
            return "smallint";
        case ColType::BigInt:
            return "bigint";
        case ColType::Bit:
            return "bit";
        case ColType::Float:
            return "float";
        case ColType::DateTime:
            return "datetime";
        case ColType::NVarChar:
            return "nvarchar";
    }
    return "nvarchar";
}

std::string trimSpaces(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string padRight(const std::string& s, size_t chars) {
    size_t n = decodeUtf8(s).size();
    return n >= chars ? s : s + std::string(chars - n, ' ');
}

std::string nowText() {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S.000", &tm);
    return buf;
}

std::string cellText(const Cell& c) {
    if (isIntType(c.t))
        return std::to_string(c.v.i);
    if (c.t == ColType::Float) {
        std::ostringstream o;
        o << c.v.f;
        return o.str();
    }
    return c.v.text;
}

Cell nullCell(ColType t = ColType::Int) {
    Cell c;
    c.t = t;
    return c;
}
Cell intCell(int64_t v, ColType t = ColType::Int) {
    Cell c;
    c.t = t;
    c.v = Value::ofInt(v);
    return c;
}
Cell textCell(std::string s) {
    Cell c;
    c.t = ColType::NVarChar;
    c.v = Value::ofText(std::move(s));
    return c;
}
Cell boolCell(std::optional<bool> b) {
    if (!b)
        return nullCell(ColType::Bit);
    return intCell(*b ? 1 : 0, ColType::Bit);
}
std::optional<bool> truth(const Cell& c) {
    if (c.v.null)
        return std::nullopt;
    return c.v.i != 0;
}

int64_t toInt(const Cell& c, ColType target) {
    if (isIntType(c.t))
        return c.v.i;
    if (c.t == ColType::Float)
        return static_cast<int64_t>(c.v.f);
    // Text to a whole number as the server converts it: spaces around, an optional sign, digits;
    // an empty text is 0.
    std::string s = trimSpaces(c.v.text);
    bool ok = true;
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    if (i == s.size() && !s.empty())
        ok = false;
    for (size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9')
            ok = false;
    if (!ok || s.size() > 19)
        raise(245, 16, 1,
              "Conversion failed when converting the " + std::string(c.ansi ? "varchar" : "nvarchar") +
                  " value '" + c.v.text + "' to data type " + typeName(target) + ".",
              SqlError::Kind::RuntimeAbort);
    return s.empty() ? 0 : std::stoll(s);
}

double toFloat(const Cell& c) {
    if (isIntType(c.t))
        return static_cast<double>(c.v.i);
    if (c.t == ColType::Float)
        return c.v.f;
    std::string s = trimSpaces(c.v.text);
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (s.empty() || end != s.c_str() + s.size())
        raise(8114, 16, 5,
              "Error converting data type " + std::string(c.ansi ? "varchar" : "nvarchar") + " to float.",
              SqlError::Kind::RuntimeAbort);
    return d;
}

// Compares two non-null values after the conversion the server applies by type precedence.
int compareCells(const Cell& a, const Cell& b) {
    if (a.t == ColType::Float || b.t == ColType::Float) {
        double x = toFloat(a), y = toFloat(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (isIntType(a.t) || isIntType(b.t)) {
        ColType target = isIntType(a.t) ? a.t : b.t;
        int64_t x = toInt(a, target), y = toInt(b, target);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    return sql::compareText(a.v.text, b.v.text);
}

// Nulls sort first, as on the server.
int orderCells(const Cell& a, const Cell& b) {
    if (a.v.null || b.v.null)
        return a.v.null == b.v.null ? 0 : a.v.null ? -1 : 1;
    return compareCells(a, b);
}

std::string distinctKey(const Cell& c) {
    if (c.v.null)
        return std::string("\x01", 1);
    if (isIntType(c.t))
        return "I" + std::to_string(c.v.i);
    if (c.t == ColType::Float)
        return "F" + cellText(c);
    return "T" + sql::collationKey(c.v.text);
}

ColType typeFromDecl(const std::string& declared, int* maxChars) {
    std::string d = lower(declared);
    *maxChars = 255;
    if (d.find("bigint") != std::string::npos)
        return ColType::BigInt;
    if (d.find("smallint") != std::string::npos || d.find("tinyint") != std::string::npos)
        return ColType::SmallInt;
    if (d.find("int") != std::string::npos)
        return ColType::Int;
    if (d == "bit")
        return ColType::Bit;
    if (d.find("date") != std::string::npos || d.find("time") != std::string::npos)
        return ColType::DateTime;
    if (d.find("float") != std::string::npos || d.find("real") != std::string::npos ||
        d.find("decimal") != std::string::npos || d.find("numeric") != std::string::npos ||
        d.find("money") != std::string::npos)
        return ColType::Float;
    size_t open = d.find('(');
    if (open != std::string::npos) {
        std::string n = d.substr(open + 1);
        if (n.rfind("max", 0) == 0)
            *maxChars = 4000;
        else if (!n.empty() && std::isdigit(static_cast<unsigned char>(n[0])))
            *maxChars = std::max(1, std::min(4000, std::atoi(n.c_str())));
    }
    return ColType::NVarChar;
}

uint32_t objectIdFor(const std::string& name) {
    uint32_t h = 2166136261u;
    for (char c : lower(name)) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    return 1000 + (h % 2000000000u);
}

// The rows a statement reads: a table of TqSystem or one of the server's catalogue views.
struct Source {
    std::string name;  // as the catalogue spells it
    std::string alias;
    std::vector<Column> cols;
    std::vector<std::vector<Value>> rows;
    std::vector<int64_t> rowids;  // tables only
    bool userTable = false;
    mutable std::vector<char> used;  // columns a statement names; the others are not read
};

Column col(std::string name, ColType t, int maxChars = 128, bool nullable = false) {
    Column c;
    c.name = std::move(name);
    c.type = t;
    c.maxChars = maxChars;
    c.nullable = nullable;
    return c;
}

const std::set<std::string>& systemViews() {
    static const std::set<std::string> v = {"sysdatabases", "sysaltfiles", "sysprocesses", "sysobjects"};
    return v;
}

const std::set<std::string>& aggregates() {
    static const std::set<std::string> a = {"count", "sum", "min", "max", "avg"};
    return a;
}
const std::map<std::string, std::pair<int, int>>& scalarFunctions() {
    static const std::map<std::string, std::pair<int, int>> f = {
        {"object_id", {1, 2}}, {"db_id", {0, 1}}, {"db_name", {0, 1}},       {"databasepropertyex", {2, 2}},
        {"isnull", {2, 2}},    {"len", {1, 1}},   {"upper", {1, 1}},         {"lower", {1, 1}},
        {"ltrim", {1, 1}},     {"rtrim", {1, 1}}, {"serverproperty", {1, 1}}};
    return f;
}
const std::set<std::string>& globals() {
    static const std::set<std::string> g = {"spid",       "trancount", "version",
                                            "servername", "rowcount",  "error"};
    return g;
}

bool hasAggregate(const Expr& e) {
    if (e.kind == Expr::Kind::Func && aggregates().count(e.s))
        return true;
    for (const auto& a : e.args)
        if (a && hasAggregate(*a))
            return true;
    return false;
}

}  // namespace

struct Engine::Impl {
    sqlite3* db = nullptr;
    std::string storeError;
    std::vector<std::string> log;
    struct SessionInfo {
        std::string database, login, host, program, loginTime;
        int tranCount = 0;
    };
    std::map<int, SessionInfo> sessions;
    std::vector<ForeignSession> foreign;
    struct Fault {
        std::regex re;
        Message message;
        int remaining;
    };
    std::vector<Fault> faults;
    int nextSpid = 51;
    int nextForeignSpid = 200;
    int txOwner = 0;  // spid whose transaction the store holds open; 0: none
    uint64_t nextDescriptor = 0x100000001ull;
    Product product;

    // ---- store -------------------------------------------------------------------------------

    bool exec(const std::string& text, std::string* error = nullptr) {
        char* msg = nullptr;
        int rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, &msg);
        if (rc != SQLITE_OK && error)
            *error = msg ? msg : sqlite3_errmsg(db);
        sqlite3_free(msg);
        return rc == SQLITE_OK;
    }

    struct Query {
        sqlite3_stmt* st = nullptr;
        Query(sqlite3* db, const std::string& text) {
            sqlite3_prepare_v2(db, text.c_str(), -1, &st, nullptr);
        }
        ~Query() { sqlite3_finalize(st); }
        Query(const Query&) = delete;
        Query& operator=(const Query&) = delete;
        bool ok() const { return st != nullptr; }
        Query& bind(int i, const std::string& v) {
            sqlite3_bind_text(st, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
            return *this;
        }
        Query& bind(int i, int64_t v) {
            sqlite3_bind_int64(st, i, v);
            return *this;
        }
        bool step() { return st && sqlite3_step(st) == SQLITE_ROW; }
        int64_t i(int c) { return sqlite3_column_int64(st, c); }
        std::string s(int c) {
            auto p = sqlite3_column_text(st, c);
            return p ? reinterpret_cast<const char*>(p) : "";
        }
        bool isNull(int c) { return sqlite3_column_type(st, c) == SQLITE_NULL; }
    };

    struct DbRow {
        int64_t dbid = 0;
        std::string name, state, crdate, filename;
        int64_t status = 0, cmptlevel = 80;
    };

    std::vector<DbRow> allDatabases() {
        std::vector<DbRow> out;
        Query q(db,
                "SELECT dbid, name, state, crdate, filename, status, cmptlevel FROM sandbox_databases ORDER "
                "BY dbid");
        while (q.step()) {
            DbRow r;
            r.dbid = q.i(0);
            r.name = q.s(1);
            r.state = q.s(2);
            r.crdate = q.s(3);
            r.filename = q.s(4);
            r.status = q.i(5);
            r.cmptlevel = q.i(6);
            out.push_back(r);
        }
        return out;
    }
    std::optional<DbRow> findDatabase(const std::string& name) {
        for (auto& r : allDatabases())
            if (sql::compareText(r.name, name) == 0)
                return r;
        return std::nullopt;
    }
    std::optional<DbRow> findDatabase(int64_t dbid) {
        for (auto& r : allDatabases())
            if (r.dbid == dbid)
                return r;
        return std::nullopt;
    }

    static bool internalTable(const std::string& name) {
        std::string l = lower(name);
        return l.rfind("sandbox_", 0) == 0 || l.rfind("sqlite_", 0) == 0;
    }
    std::vector<std::string> userTables() {
        std::vector<std::string> out;
        Query q(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid");
        while (q.step())
            if (!internalTable(q.s(0)))
                out.push_back(q.s(0));
        return out;
    }
    std::optional<std::string> findUserTable(const std::string& name) {
        for (auto& t : userTables())
            if (sameName(t, name))
                return t;
        return std::nullopt;
    }
    bool isSystemDb(const std::string& db) { return sameName(db, kSystemDb); }

    std::vector<Column> tableColumns(const std::string& table) {
        std::vector<Column> cols;
        Query q(db, "PRAGMA table_info(\"" + table + "\")");
        while (q.step()) {
            Column c;
            c.name = q.s(1);
            c.type = typeFromDecl(q.s(2), &c.maxChars);
            c.nullable = q.i(3) == 0;
            cols.push_back(c);
        }
        return cols;
    }

    // Tables are read while filtering (see filter): only the rows a statement keeps are held.
    void loadTable(Source& src) {
        src.cols = tableColumns(src.name);
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
                v.f = sqlite3_column_double(q.st, k);
            } else {
                auto p = sqlite3_column_text(q.st, k);
                v.text.assign(reinterpret_cast<const char*>(p),
                              static_cast<size_t>(sqlite3_column_bytes(q.st, k)));
            }
        }
    }

    // ---- catalogue views ---------------------------------------------------------------------

    void loadSysdatabases(Source& src) {
        src.cols = {col("name", ColType::NVarChar, 128, true),
                    col("dbid", ColType::SmallInt, 0, true),
                    col("sid", ColType::NVarChar, 85, true),
                    col("mode", ColType::SmallInt, 0, true),
                    col("status", ColType::Int, 0, true),
                    col("status2", ColType::Int, 0, true),
                    col("crdate", ColType::DateTime),
                    col("reserved", ColType::DateTime),
                    col("category", ColType::Int, 0, true),
                    col("cmptlevel", ColType::SmallInt),
                    col("filename", ColType::NVarChar, 260, true),
                    col("version", ColType::SmallInt, 0, true)};
        for (auto& d : allDatabases()) {
            src.rows.push_back({Value::ofText(d.name), Value::ofInt(d.dbid), Value::ofNull(), Value::ofInt(0),
                                Value::ofInt(d.status), Value::ofInt(1090520064), Value::ofText(d.crdate),
                                Value::ofText("1900-01-01 00:00:00.000"), Value::ofInt(0),
                                Value::ofInt(d.cmptlevel), Value::ofText(d.filename),
                                Value::ofInt(product.databaseVersion)});
        }
    }
    void loadSysaltfiles(Source& src) {
        src.cols = {col("fileid", ColType::SmallInt, 0, true),
                    col("groupid", ColType::SmallInt, 0, true),
                    col("size", ColType::Int),
                    col("maxsize", ColType::Int),
                    col("growth", ColType::Int),
                    col("status", ColType::Int, 0, true),
                    col("perf", ColType::Int, 0, true),
                    col("dbid", ColType::SmallInt, 0, true),
                    col("name", ColType::NVarChar, 128),
                    col("filename", ColType::NVarChar, 260, true)};
        Query q(db, "SELECT fileid, size, dbid, name, filename FROM sandbox_files ORDER BY dbid, fileid");
        while (q.step()) {
            bool log = q.i(0) == 2;
            src.rows.push_back({Value::ofInt(q.i(0)), Value::ofInt(log ? 0 : 1), Value::ofInt(q.i(1)),
                                Value::ofInt(-1), Value::ofInt(10), Value::ofInt(log ? 1048642 : 1048578),
                                Value::ofInt(0), Value::ofInt(q.i(2)), Value::ofText(q.s(3)),
                                Value::ofText(q.s(4))});
        }
    }
    // sysprocesses' text columns are nchar: the server pads them with spaces.
    void loadSysprocesses(Source& src, const Session& self) {
        src.cols = {col("spid", ColType::SmallInt),
                    col("kpid", ColType::SmallInt),
                    col("blocked", ColType::SmallInt),
                    col("dbid", ColType::SmallInt),
                    col("uid", ColType::SmallInt, 0, true),
                    col("cpu", ColType::Int),
                    col("memusage", ColType::Int),
                    col("login_time", ColType::DateTime),
                    col("last_batch", ColType::DateTime),
                    col("open_tran", ColType::SmallInt),
                    col("status", ColType::NVarChar, 30),
                    col("hostname", ColType::NVarChar, 128),
                    col("program_name", ColType::NVarChar, 128),
                    col("hostprocess", ColType::NVarChar, 10),
                    col("cmd", ColType::NVarChar, 16),
                    col("nt_domain", ColType::NVarChar, 128),
                    col("nt_username", ColType::NVarChar, 128),
                    col("net_address", ColType::NVarChar, 12),
                    col("net_library", ColType::NVarChar, 12),
                    col("loginame", ColType::NVarChar, 128)};
        auto row = [&](int spid, const std::string& dbname, const std::string& login, const std::string& host,
                       const std::string& program, const std::string& loginTime, int openTran, bool running) {
            auto d = findDatabase(dbname);
            src.rows.push_back({Value::ofInt(spid),
                                Value::ofInt(0),
                                Value::ofInt(0),
                                Value::ofInt(d ? d->dbid : 0),
                                Value::ofInt(1),
                                Value::ofInt(0),
                                Value::ofInt(2),
                                Value::ofText(loginTime),
                                Value::ofText(loginTime),
                                Value::ofInt(openTran),
                                Value::ofText(padRight(running ? "runnable" : "sleeping", 30)),
                                Value::ofText(padRight(host, 128)),
                                Value::ofText(padRight(program, 128)),
                                Value::ofText(padRight("", 10)),
                                Value::ofText(padRight(running ? "SELECT" : "AWAITING COMMAND", 16)),
                                Value::ofText(padRight("", 128)),
                                Value::ofText(padRight("", 128)),
                                Value::ofText(padRight("000000000000", 12)),
                                Value::ofText(padRight("TCP/IP", 12)),
                                Value::ofText(padRight(login, 128))});
        };
        for (auto& [spid, info] : sessions)
            row(spid, info.database, info.login, info.host, info.program, info.loginTime, info.tranCount,
                spid == self.spid);
        for (auto& f : foreign)
            row(f.spid, f.database, f.login, f.host, f.program, nowText(), 0, false);
    }
    void loadSysobjects(Source& src, const std::string& database) {
        src.cols = {col("name", ColType::NVarChar, 128),     col("id", ColType::Int),
                    col("xtype", ColType::NVarChar, 2),      col("uid", ColType::SmallInt, 0, true),
                    col("info", ColType::SmallInt, 0, true), col("status", ColType::Int, 0, true),
                    col("parent_obj", ColType::Int),         col("crdate", ColType::DateTime),
                    col("type", ColType::NVarChar, 2, true)};
        if (!isSystemDb(database))
            return;
        for (auto& t : userTables())
            src.rows.push_back({Value::ofText(t), Value::ofInt(objectIdFor(t)), Value::ofText("U "),
                                Value::ofInt(1), Value::ofInt(0), Value::ofInt(0), Value::ofInt(0),
                                Value::ofText("2003-06-01 09:00:00.000"), Value::ofText("U ")});
    }

    // ---- name resolution ---------------------------------------------------------------------

    struct Resolved {
        std::string database;  // canonical
        std::string table;     // canonical, or the view name in lower case
        bool view = false;
    };

    std::optional<Resolved> resolve(const std::vector<std::string>& parts, const Session& s) {
        if (parts.empty() || parts.size() > 3)
            return std::nullopt;
        std::string table = parts.back();
        std::string schema = parts.size() >= 2 ? parts[parts.size() - 2] : "";
        std::string dbname = parts.size() == 3 ? parts[0] : s.database;
        auto d = findDatabase(dbname);
        if (!d)
            return std::nullopt;
        if (!schema.empty() && !sameName(schema, "dbo") && !sameName(schema, "sys"))
            return std::nullopt;
        if (systemViews().count(lower(table)))
            return Resolved{d->name, lower(table), true};
        if (!sameName(schema, "sys") && isSystemDb(d->name))
            if (auto t = findUserTable(table))
                return Resolved{d->name, *t, false};
        return std::nullopt;
    }

    Source open(const sql::TableRef& ref, const Session& s) {
        auto r = resolve(ref.parts, s);
        if (!r)
            compileError(208, 16, 1, "Invalid object name '" + ref.written + "'.");
        Source src;
        src.name = r->table;
        src.alias = ref.alias;
        if (!r->view) {
            src.userTable = true;
            loadTable(src);
        } else if (r->table == "sysdatabases") {
            loadSysdatabases(src);
        } else if (r->table == "sysaltfiles") {
            loadSysaltfiles(src);
        } else if (r->table == "sysprocesses") {
            loadSysprocesses(src, s);
        } else {
            loadSysobjects(src, r->database);
        }
        src.used.assign(src.cols.size(), 0);
        return src;
    }

    // ---- binding -----------------------------------------------------------------------------

    void bind(const Expr& e, const Source* src, bool aggregatesAllowed, bool insideAggregate) {
        switch (e.kind) {
            case Expr::Kind::Column: {
                std::string colName = e.parts.back();
                std::string written;
                for (size_t i = 0; i < e.parts.size(); ++i)
                    written += (i ? "." : "") + e.parts[i];
                if (!src)
                    compileError(207, 16, 1, "Invalid column name '" + colName + "'.");
                if (e.parts.size() > 1) {
                    const std::string& q = e.parts[e.parts.size() - 2];
                    bool matches = src->alias.empty() ? sameName(q, src->name) : sameName(q, src->alias);
                    if (!matches)
                        compileError(4104, 16, 1,
                                     "The multi-part identifier \"" + written + "\" could not be bound.");
                }
                for (size_t i = 0; i < src->cols.size(); ++i)
                    if (sameName(src->cols[i].name, colName)) {
                        e.column = static_cast<int>(i);
                        src->used[i] = 1;
                        return;
                    }
                compileError(207, 16, 1, "Invalid column name '" + colName + "'.");
            }
            case Expr::Kind::Variable:
                compileError(137, 15, 2, "Must declare the scalar variable \"@" + e.s + "\".");
            case Expr::Kind::Global:
                if (!globals().count(e.s))
                    compileError(137, 15, 2, "Must declare the scalar variable \"@@" + e.s + "\".");
                return;
            case Expr::Kind::Func: {
                if (aggregates().count(e.s)) {
                    if (!aggregatesAllowed)
                        compileError(
                            147, 15, 1,
                            "An aggregate may not appear in the WHERE clause unless it is in a subquery "
                            "contained in a HAVING clause or a select list, and the column being aggregated "
                            "is an outer reference.");
                    if (insideAggregate)
                        compileError(
                            130, 16, 1,
                            "Cannot perform an aggregate or a subquery on an expression containing an "
                            "aggregate or a subquery.");
                    if (e.args.size() != 1)
                        compileError(174, 15, 1, "The " + e.s + " function requires 1 argument(s).");
                    if (e.args[0]->kind != Expr::Kind::Star)
                        bind(*e.args[0], src, true, true);
                    return;
                }
                auto f = scalarFunctions().find(e.s);
                if (f == scalarFunctions().end())
                    compileError(195, 15, 10, "'" + e.s + "' is not a recognized built-in function name.");
                int n = static_cast<int>(e.args.size());
                if (n < f->second.first || n > f->second.second)
                    compileError(174, 15, 1,
                                 "The " + e.s + " function requires " + std::to_string(f->second.first) +
                                     " argument(s).");
                for (auto& a : e.args)
                    bind(*a, src, aggregatesAllowed, insideAggregate);
                return;
            }
            case Expr::Kind::Star:
                compileError(102, 15, 1, "Incorrect syntax near '*'.");
            default:
                for (auto& a : e.args)
                    bind(*a, src, aggregatesAllowed, insideAggregate);
        }
    }

    // A column named outside any aggregate of an aggregated select list.
    const Expr* bareColumn(const Expr& e) {
        if (e.kind == Expr::Kind::Column)
            return &e;
        if (e.kind == Expr::Kind::Func && aggregates().count(e.s))
            return nullptr;
        for (auto& a : e.args)
            if (auto c = bareColumn(*a))
                return c;
        return nullptr;
    }

    Column typeOf(const Expr& e, const Source* src) {
        switch (e.kind) {
            case Expr::Kind::Null:
                return col("", ColType::Int, 0, true);
            case Expr::Kind::Int:
                return col("", e.i > INT32_MAX || e.i < INT32_MIN ? ColType::BigInt : ColType::Int, 0, false);
            case Expr::Kind::Float:
                return col("", ColType::Float, 0, false);
            case Expr::Kind::String:
                return col("", ColType::NVarChar, std::max<int>(1, static_cast<int>(decodeUtf8(e.s).size())),
                           false);
            case Expr::Kind::Column: {
                Column c = src->cols[e.column];
                c.name = e.parts.back();
                return c;
            }
            case Expr::Kind::Global:
                if (e.s == "spid")
                    return col("", ColType::SmallInt, 0, false);
                if (e.s == "version" || e.s == "servername")
                    return col("", ColType::NVarChar, 300, true);
                return col("", ColType::Int, 0, false);
            case Expr::Kind::Func: {
                if (e.s == "count")
                    return col("", ColType::Int, 0, false);
                if (e.s == "object_id" || e.s == "len")
                    return col("", ColType::Int, 0, true);
                if (e.s == "db_id")
                    return col("", ColType::SmallInt, 0, true);
                if (e.s == "db_name" || e.s == "databasepropertyex" || e.s == "serverproperty")
                    return col("", ColType::NVarChar, 128, true);
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

    // ---- evaluation --------------------------------------------------------------------------

    struct Ctx {
        const Session* s = nullptr;
        const Source* src = nullptr;
        const std::vector<Value>* row = nullptr;
        const std::vector<size_t>* group = nullptr;  // rows of the aggregate
    };

    Cell eval(const Expr& e, const Ctx& c) {
        switch (e.kind) {
            case Expr::Kind::Null:
                return nullCell();
            case Expr::Kind::Int:
                return intCell(e.i, e.i > INT32_MAX || e.i < INT32_MIN ? ColType::BigInt : ColType::Int);
            case Expr::Kind::Float: {
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
            case Expr::Kind::Column: {
                Cell x;
                x.t = c.src->cols[e.column].type;
                x.v = (*c.row)[e.column];
                return x;
            }
            case Expr::Kind::Global:
                return global(e.s, *c.s);
            case Expr::Kind::Neg: {
                Cell a = eval(*e.args[0], c);
                if (a.v.null)
                    return a;
                if (a.t == ColType::Float) {
                    a.v.f = -a.v.f;
                    return a;
                }
                return intCell(-toInt(a, ColType::Int), isIntType(a.t) ? a.t : ColType::Int);
            }
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
            case Expr::Kind::Like: {
                Cell v = eval(*e.args[0], c), p = eval(*e.args[1], c);
                std::optional<char32_t> escape;
                if (e.args.size() > 2) {
                    Cell x = eval(*e.args[2], c);
                    if (!x.v.null) {
                        std::u32string esc = decodeUtf8(cellText(x));
                        if (esc.size() != 1)
                            raise(506, 16, 1,
                                  "The invalid escape character \"" + cellText(x) +
                                      "\" was specified in a LIKE predicate.");
                        escape = esc[0];
                    }
                }
                if (v.v.null || p.v.null)
                    return boolCell(std::nullopt);
                bool m = sql::likeMatch(cellText(v), cellText(p), escape);
                return boolCell(m != e.negated);
            }
            case Expr::Kind::In: {
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
            case Expr::Kind::Arith:
                return arith(e, c);
            case Expr::Kind::Func:
                return function(e, c);
            default:
                return nullCell();
        }
    }

    Cell arith(const Expr& e, const Ctx& c) {
        Cell a = eval(*e.args[0], c), b = eval(*e.args[1], c);
        if (a.v.null || b.v.null)
            return nullCell();
        bool text = !isIntType(a.t) && a.t != ColType::Float && !isIntType(b.t) && b.t != ColType::Float;
        if (text) {
            if (e.op != "+")
                raise(8117, 16, 1, "Operand data type nvarchar is invalid for " + e.op + " operator.");
            return textCell(a.v.text + b.v.text);
        }
        if (a.t == ColType::Float || b.t == ColType::Float) {
            double x = toFloat(a), y = toFloat(b);
            Cell r;
            r.t = ColType::Float;
            r.v.null = false;
            if ((e.op == "/" || e.op == "%") && y == 0)
                raise(8134, 16, 1, "Divide by zero error encountered.", SqlError::Kind::RuntimeAbort);
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
            raise(8134, 16, 1, "Divide by zero error encountered.", SqlError::Kind::RuntimeAbort);
        int64_t r = e.op == "+"   ? x + y
                    : e.op == "-" ? x - y
                    : e.op == "*" ? x * y
                    : e.op == "/" ? x / y
                                  : x % y;
        if (t == ColType::Int && (r > INT32_MAX || r < INT32_MIN))
            raise(8115, 16, 2, "Arithmetic overflow error converting expression to data type int.",
                  SqlError::Kind::RuntimeAbort);
        return intCell(r, t);
    }

    Cell global(const std::string& name, const Session& s) {
        if (name == "spid")
            return intCell(s.spid, ColType::SmallInt);
        if (name == "trancount")
            return intCell(s.tranCount);
        if (name == "rowcount")
            return intCell(s.lastRowCount);
        if (name == "error")
            return intCell(s.lastError);
        if (name == "servername")
            return textCell("SANDBOX");
        return textCell(product.versionText);
    }

    // The properties a client asks for to learn which release it talks to; others are Null.
    Cell serverProperty(const std::string& p) {
        if (p == "productversion")
            return textCell(product.version);
        if (p == "productlevel")
            return textCell(product.level);
        if (p == "edition")
            return textCell(product.edition);
        if (p == "servername" || p == "machinename")
            return textCell("SANDBOX");
        return nullCell(ColType::NVarChar);
    }

    // Splits 'db.dbo.name' or '[name]' as OBJECT_ID reads its argument.
    static std::vector<std::string> splitObjectName(const std::string& text) {
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

    Cell function(const Expr& e, const Ctx& c) {
        if (aggregates().count(e.s))
            return aggregate(e, c);
        std::vector<Cell> a;
        for (auto& x : e.args)
            a.push_back(eval(*x, c));
        const Session& s = *c.s;
        if (e.s == "isnull") {
            Cell r = a[0].v.null ? a[1] : a[0];
            return r;
        }
        for (auto& x : a)
            if (x.v.null)
                return nullCell(typeOf(e, c.src).type);
        if (e.s == "db_id") {
            auto d = a.empty() ? findDatabase(s.database) : findDatabase(cellText(a[0]));
            return d ? intCell(d->dbid, ColType::SmallInt) : nullCell(ColType::SmallInt);
        }
        if (e.s == "db_name") {
            auto d = a.empty() ? findDatabase(s.database) : findDatabase(toInt(a[0], ColType::Int));
            return d ? textCell(d->name) : nullCell(ColType::NVarChar);
        }
        if (e.s == "object_id") {
            std::vector<std::string> parts = splitObjectName(cellText(a[0]));
            if (a.size() > 1 && !sameName(trimSpaces(cellText(a[1])), "U"))
                return nullCell();
            if (parts.size() > 3)
                return nullCell();
            auto r = resolve(parts, s);
            if (!r)
                return nullCell();
            if (r->view) {
                static const std::map<std::string, int> ids = {{"sysdatabases", -213},
                                                               {"sysaltfiles", -206},
                                                               {"sysprocesses", -224},
                                                               {"sysobjects", -385}};
                return a.size() > 1 ? nullCell() : intCell(ids.at(r->table));
            }
            return intCell(objectIdFor(r->table));
        }
        if (e.s == "databasepropertyex") {
            auto d = findDatabase(cellText(a[0]));
            if (!d)
                return nullCell(ColType::NVarChar);
            std::string p = lower(trimSpaces(cellText(a[1])));
            if (p == "status")
                return textCell(d->state);
            if (p == "collation")
                return textCell("Chinese_PRC_CI_AS");
            if (p == "recovery")
                return textCell(d->dbid <= 4 ? "SIMPLE" : "FULL");
            if (p == "useraccess")
                return textCell("MULTI_USER");
            if (p == "updateability")
                return textCell("READ_WRITE");
            if (p == "version")
                return textCell(std::to_string(product.databaseVersion));
            return nullCell(ColType::NVarChar);
        }
        if (e.s == "serverproperty")
            return serverProperty(lower(trimSpaces(cellText(a[0]))));
        std::string t = cellText(a[0]);
        if (e.s == "len") {
            std::u32string u = decodeUtf8(t);
            while (!u.empty() && u.back() == U' ')
                u.pop_back();
            return intCell(static_cast<int64_t>(u.size()));
        }
        if (e.s == "upper" || e.s == "lower") {
            for (auto& ch : t)
                ch = static_cast<char>(e.s == "upper" ? std::toupper(static_cast<unsigned char>(ch))
                                                      : std::tolower(static_cast<unsigned char>(ch)));
            return textCell(t);
        }
        if (e.s == "ltrim")
            return textCell(t.substr(std::min(t.size(), t.find_first_not_of(' '))));
        if (e.s == "rtrim") {
            size_t end = t.find_last_not_of(' ');
            return textCell(end == std::string::npos ? "" : t.substr(0, end + 1));
        }
        return nullCell();
    }

    Cell aggregate(const Expr& e, const Ctx& c) {
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
            } else if (e.s == "sum" || e.s == "avg") {
                if (type.type == ColType::Float)
                    fsum += toFloat(v);
                else
                    isum += toInt(v, type.type);
            }
        }
        if (e.s == "count")
            return intCell(count);
        if (e.s == "min" || e.s == "max")
            return best;
        if (count == 0)
            return nullCell(type.type);
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
            raise(8115, 16, 2, "Arithmetic overflow error converting expression to data type int.",
                  SqlError::Kind::RuntimeAbort);
        return intCell(isum, type.type);
    }

    // ---- statements --------------------------------------------------------------------------

    // The rows of the source that pass the condition, in the source's order. A table's rows come
    // from the store here, and only those that pass are kept in the source.
    std::vector<size_t> filter(Source& src, const Expr* where, const Session& s) {
        std::vector<size_t> out;
        Ctx c;
        c.s = &s;
        c.src = &src;
        if (src.userTable) {
            Query q(db, "SELECT rowid, * FROM \"" + src.name + "\"");
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
    void select(const Statement& st, Session& s, Piece& p, bool compileOnly = false) {
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
                    compileError(263, 16, 1, "Must specify table to select from.");
                if (!it.starQualifier.empty() && !(sp->alias.empty() ? sameName(it.starQualifier, sp->name)
                                                                     : sameName(it.starQualifier, sp->alias)))
                    compileError(107, 15, 1,
                                 "The column prefix '" + it.starQualifier +
                                     "' does not match with a table name or "
                                     "alias name used in the query.");
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
                        8120, 16, 1,
                        "Column '" + sp->name + "." + name +
                            "' is invalid in the select list because it is not contained in either an "
                            "aggregate function or the GROUP BY clause.");
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
                    compileError(108, 16, 1,
                                 "The ORDER BY position number " + std::to_string(o.expr->i) +
                                     " is out of range of the number of items in the select list.");
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
                            int ic =
                                ie ? (ie->kind == Expr::Kind::Column ? ie->column : -1) : items[j].column;
                            if (ic == o.expr->column)
                                k.item = static_cast<int>(j);
                        }
                    if (k.item < 0) {
                        if (st.distinct)
                            compileError(
                                145, 15, 1,
                                "ORDER BY items must appear in the select list if SELECT DISTINCT is "
                                "specified.");
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

    static Value convertOut(Cell&& c, ColType t) {
        if (c.v.null)
            return Value::ofNull();
        if (isIntType(t) && !isIntType(c.t))
            return Value::ofInt(toInt(c, t));
        if (t == ColType::Float && c.t != ColType::Float) {
            Value v;
            v.null = false;
            v.f = toFloat(c);
            return v;
        }
        if ((t == ColType::NVarChar || t == ColType::DateTime) && (isIntType(c.t) || c.t == ColType::Float))
            return Value::ofText(cellText(c));
        return std::move(c.v);
    }

    // The store holds one transaction at a time: a session's transaction takes it at its first
    // write. Another session that would write meanwhile times out at once rather than wait.
    void beforeWrite(Session& s) {
        if (txOwner != 0 && txOwner != s.spid)
            raise(1222, 16, 51, "Lock request time out period exceeded.");
        if (s.tranCount > 0 && txOwner == 0) {
            exec("BEGIN");
            txOwner = s.spid;
        }
    }

    void remove(const Statement& st, Session& s, Piece& p, bool compileOnly = false) {
        Source src = open(*st.from, s);
        if (!src.userTable)
            compileError(259, 16, 1, "Ad hoc updates to system catalogs are not allowed.");
        if (st.where)
            bind(*st.where, &src, false, false);
        if (compileOnly)
            return;
        beforeWrite(s);
        std::vector<size_t> rows = filter(src, st.where.get(), s);
        exec("SAVEPOINT sandbox_stmt");
        Query q(db, "DELETE FROM \"" + src.name + "\" WHERE rowid = ?");
        for (size_t r : rows) {
            sqlite3_reset(q.st);
            q.bind(1, src.rowids[r]);
            sqlite3_step(q.st);
        }
        exec("RELEASE sandbox_stmt");
        s.lastRowCount = static_cast<int64_t>(rows.size());
        p.rowCount = s.noCount ? -1 : s.lastRowCount;
    }

    void dropDatabase(const Statement& st, Session& s) {
        if (s.tranCount > 0)
            raise(226, 16, 6, "DROP DATABASE statement cannot be used inside a user transaction.");
        // Each name is its own drop: one that fails does not keep the others.
        std::optional<SqlError> first;
        for (const auto& name : st.names) {
            try {
                auto d = findDatabase(name);
                if (!d)
                    raise(3701, 11, 1,
                          "Cannot drop the database '" + name +
                              "', because it does not exist or you do not have permission.");
                if (d->dbid <= 4)
                    raise(3708, 16, 1,
                          "Cannot drop the database '" + d->name + "' because it is a system database.");
                bool inUse = sameName(s.database, d->name);
                for (auto& [spid, info] : sessions)
                    if (spid != s.spid && sql::compareText(info.database, d->name) == 0)
                        inUse = true;
                for (auto& f : foreign)
                    if (sql::compareText(f.database, d->name) == 0)
                        inUse = true;
                if (inUse)
                    raise(3702, 16, 4,
                          "Cannot drop database \"" + d->name + "\" because it is currently in use.");
                beforeWrite(s);
                exec("SAVEPOINT sandbox_stmt");
                Query a(db, "DELETE FROM sandbox_files WHERE dbid = ?");
                a.bind(1, d->dbid).step();
                Query b(db, "DELETE FROM sandbox_databases WHERE dbid = ?");
                b.bind(1, d->dbid).step();
                exec("RELEASE sandbox_stmt");
            } catch (const SqlError& e) {
                if (!first)
                    first = e;
            }
        }
        if (first)
            throw *first;
    }

    void use(const Statement& st, Session& s, Piece& p, BatchResult& out) {
        auto d = findDatabase(st.names[0]);
        if (!d)
            raise(911, 16, 1,
                  "Database '" + st.names[0] +
                      "' does not exist. Make sure that the name is entered correctly.");
        if (d->state != "ONLINE")
            raise(942, 14, 4, "Database '" + d->name + "' cannot be opened because it is offline.");
        s.database = d->name;
        out.useDatabaseChanged = true;
        p.messages.push_back(makeMessage(5701, 0, 1, "Changed database context to '" + d->name + "'."));
    }

    void set(const Statement& st, Session& s, Piece& p) {
        if (st.option == "XACT_ABORT")
            s.xactAbort = st.optionValue == "ON";
        if (st.option == "NOCOUNT")
            s.noCount = st.optionValue == "ON";
        if (st.option == "IMPLICIT_TRANSACTIONS")
            s.implicitTransactions = st.optionValue == "ON";
        if (st.option == "LANGUAGE")
            p.messages.push_back(
                makeMessage(5703, 0, 1, "Changed language setting to " + st.optionValue + "."));
    }

    void begin(Session& s, Piece& p) {
        if (s.tranCount == 0) {
            s.tranDescriptor = nextDescriptor++;
            p.tran = TranChange::Begin;
            p.tranDescriptor = s.tranDescriptor;
        }
        ++s.tranCount;
    }
    void commit(Session& s, Piece& p) {
        if (s.tranCount == 0)
            raise(3902, 16, 1, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        if (--s.tranCount == 0) {
            if (txOwner == s.spid) {
                exec("COMMIT");
                txOwner = 0;
            }
            p.tran = TranChange::Commit;
            p.tranDescriptor = s.tranDescriptor;
            s.tranDescriptor = 0;
        }
    }
    void rollback(Session& s, Piece& p) {
        if (s.tranCount == 0)
            raise(3903, 16, 1, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        p.tranDescriptor = s.tranDescriptor;
        abandon(s);
        p.tran = TranChange::Rollback;
    }
    // Rolls back the session's transaction, whatever its nesting.
    void abandon(Session& s) {
        if (s.tranCount == 0)
            return;
        if (txOwner == s.spid) {
            exec("ROLLBACK");
            txOwner = 0;
        }
        s.tranCount = 0;
        s.tranDescriptor = 0;
    }

    void execProc(const Statement& st, Piece& p) {
        std::string name =
            st.proc.substr(st.proc.rfind('.') == std::string::npos ? 0 : st.proc.rfind('.') + 1);
        std::string l = lower(name);
        if (l != "sp_datatype_info_100" && l != "sp_datatype_info_90" && l != "sp_datatype_info")
            raise(2812, 16, 62, "Could not find stored procedure '" + st.proc + "'.");
        ResultSet rs;
        auto c = [](const char* n, ColType t, int len = 0) { return col(n, t, len, true); };
        rs.columns = {c("TYPE_NAME", ColType::NVarChar, 128),
                      c("DATA_TYPE", ColType::SmallInt),
                      c("PRECISION", ColType::Int),
                      c("LITERAL_PREFIX", ColType::NVarChar, 32),
                      c("LITERAL_SUFFIX", ColType::NVarChar, 32),
                      c("CREATE_PARAMS", ColType::NVarChar, 32),
                      c("NULLABLE", ColType::SmallInt),
                      c("CASE_SENSITIVE", ColType::SmallInt),
                      c("SEARCHABLE", ColType::SmallInt),
                      c("UNSIGNED_ATTRIBUTE", ColType::SmallInt),
                      c("MONEY", ColType::SmallInt),
                      c("AUTO_INCREMENT", ColType::SmallInt),
                      c("LOCAL_TYPE_NAME", ColType::NVarChar, 128),
                      c("MINIMUM_SCALE", ColType::SmallInt),
                      c("MAXIMUM_SCALE", ColType::SmallInt),
                      c("SQL_DATA_TYPE", ColType::SmallInt),
                      c("SQL_DATETIME_SUB", ColType::SmallInt),
                      c("NUM_PREC_RADIX", ColType::Int),
                      c("INTERVAL_PRECISION", ColType::SmallInt),
                      c("USERTYPE", ColType::SmallInt)};
        int64_t wanted = 0;
        if (!st.procArgs.empty() && st.procArgs[0]->kind == Expr::Kind::Int)
            wanted = st.procArgs[0]->i;
        if (wanted == 0 || wanted == 11 || wanted == 93) {
            rs.rows.push_back(
                {Value::ofText("datetime"), Value::ofInt(11), Value::ofInt(23), Value::ofText("'"),
                 Value::ofText("'"),        Value::ofNull(),  Value::ofInt(1),  Value::ofInt(0),
                 Value::ofInt(3),           Value::ofNull(),  Value::ofInt(0),  Value::ofNull(),
                 Value::ofText("datetime"), Value::ofInt(3),  Value::ofInt(3),  Value::ofInt(9),
                 Value::ofInt(3),           Value::ofNull(),  Value::ofNull(),  Value::ofInt(12)});
        }
        p.rowCount = static_cast<int64_t>(rs.rows.size());
        p.result = std::move(rs);
    }

    void checkFaults(const Statement& st) {
        for (auto& f : faults) {
            if (f.remaining == 0)
                continue;
            if (!std::regex_match(st.text, f.re))
                continue;
            if (f.remaining > 0)
                --f.remaining;
            throw SqlError{f.message, SqlError::Kind::Runtime};
        }
    }

    void run(const Statement& st, Session& s, Piece& p, BatchResult& out) {
        checkFaults(st);
        bool touchesTable =
            (st.kind == Statement::Kind::Select && st.from) || st.kind == Statement::Kind::Delete;
        if (s.implicitTransactions && s.tranCount == 0 && touchesTable)
            begin(s, p);
        switch (st.kind) {
            case Statement::Kind::Select:
                select(st, s, p);
                break;
            case Statement::Kind::Delete:
                remove(st, s, p);
                break;
            case Statement::Kind::DropDatabase:
                dropDatabase(st, s);
                break;
            case Statement::Kind::DropOther:
                raise(3701, 11, 5,
                      "Cannot drop the " + st.names[1] + " '" + st.names[0] +
                          "', because it does not exist or you do not have permission.");
            case Statement::Kind::Use:
                use(st, s, p, out);
                break;
            case Statement::Kind::Set:
                set(st, s, p);
                break;
            case Statement::Kind::BeginTran:
                begin(s, p);
                break;
            case Statement::Kind::CommitTran:
                commit(s, p);
                break;
            case Statement::Kind::RollbackTran:
                rollback(s, p);
                break;
            case Statement::Kind::Exec:
                execProc(st, p);
                break;
        }
    }

    void remember(const Session& s) {
        auto& info = sessions[s.spid];
        info.database = s.database;
        info.login = s.login;
        info.host = s.host;
        info.program = s.program;
        info.tranCount = s.tranCount;
        if (info.loginTime.empty())
            info.loginTime = nowText();
    }

    BatchResult batch(Session& s, const std::string& text) {
        log.push_back(text);
        remember(s);
        BatchResult out;
        sql::ParseResult parsed = sql::parseBatch(text);
        if (!parsed.errors.empty()) {
            Piece p;
            p.messages = parsed.errors;
            s.lastError = parsed.errors.front().number;
            out.pieces.push_back(std::move(p));
        }
        // Statements over tables that exist now are compiled with the batch: an unknown column
        // there stops the whole batch before anything runs. A table that doesn't exist yet is
        // left to its statement, as the server defers resolving it.
        for (const auto& st : parsed.statements) {
            if (st.kind == Statement::Kind::Use)
                break;
            if (st.kind != Statement::Kind::Select && st.kind != Statement::Kind::Delete)
                continue;
            if (st.from && !resolve(st.from->parts, s))
                continue;
            try {
                Piece dry;
                if (st.kind == Statement::Kind::Select)
                    select(st, s, dry, true);
                else
                    remove(st, s, dry, true);
            } catch (const SqlError& e) {
                Piece p;
                p.messages.push_back(e.m);
                p.messages.back().line = st.line;
                s.lastError = e.m.number;
                out.pieces.push_back(std::move(p));
                out.database = s.database;
                return out;
            }
        }
        for (const auto& st : parsed.statements) {
            Piece p;
            bool stop = false;
            try {
                run(st, s, p, out);
                s.lastError = 0;
            } catch (const SqlError& e) {
                Message m = e.m;
                m.line = st.line;
                p.messages.push_back(m);
                p.rowCount = -1;
                p.result.reset();
                s.lastError = m.number;
                stop = e.kind != SqlError::Kind::Runtime;
                if (e.kind != SqlError::Kind::Compile && s.xactAbort) {
                    if (s.tranCount > 0) {
                        p.tranDescriptor = s.tranDescriptor;
                        abandon(s);
                        p.tran = TranChange::Rollback;
                    }
                    stop = true;
                }
            }
            out.pieces.push_back(std::move(p));
            if (stop)
                break;
        }
        if (out.pieces.empty())
            out.pieces.emplace_back();
        out.database = s.database;
        remember(s);
        return out;
    }
};

Engine::Engine(const std::string& sqlitePath) : d(std::make_unique<Impl>()) {
    if (sqlite3_open(sqlitePath.c_str(), &d->db) != SQLITE_OK) {
        d->storeError = sqlite3_errmsg(d->db);
        sqlite3_close(d->db);
        d->db = nullptr;
        sqlite3_open(":memory:", &d->db);
    }
    // A store that has never been seeded still answers as an empty installation.
    Impl::Query q(d->db, "SELECT count(*) FROM sqlite_master WHERE name = 'sandbox_databases'");
    if (q.step() && q.i(0) == 0)
        d->exec(seeds::schemaSql);
}

std::string Engine::storeError() const {
    return d->storeError;
}

Engine::~Engine() {
    sqlite3_close(d->db);
}

void Engine::seedEmpty() {
    std::lock_guard lock(m_);
    d->exec(seeds::schemaSql);
}

void Engine::seedDemo() {
    std::lock_guard lock(m_);
    d->exec(seeds::schemaSql);
    d->exec(seeds::demoSql);
}

bool Engine::seedFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot read " + path;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::lock_guard lock(m_);
    return d->exec(text.str(), error);
}

bool Engine::execRaw(const std::string& sqliteSql, std::string* error) {
    std::lock_guard lock(m_);
    return d->exec(sqliteSql, error);
}

std::vector<std::string> Engine::queryRaw(const std::string& sqliteSql) {
    std::lock_guard lock(m_);
    std::vector<std::string> out;
    Impl::Query q(d->db, sqliteSql);
    while (q.step())
        out.push_back(q.s(0));
    return out;
}

void Engine::setProduct(Product p) {
    std::lock_guard lock(m_);
    d->product = std::move(p);
}

Product Engine::product() {
    std::lock_guard lock(m_);
    return d->product;
}

void Engine::addDatabase(const std::string& name) {
    std::lock_guard lock(m_);
    if (d->findDatabase(name))
        return;
    Impl::Query next(d->db, "SELECT coalesce(max(dbid), 4) + 1 FROM sandbox_databases");
    next.step();
    int64_t dbid = next.i(0);
    std::string file = "C:\\SQLDATA\\MSSQL\\Data\\" + name;
    Impl::Query a(d->db, "INSERT INTO sandbox_databases (dbid, name, filename) VALUES (?, ?, ?)");
    a.bind(1, dbid).bind(2, name).bind(3, file + ".mdf").step();
    Impl::Query b(d->db,
                  "INSERT INTO sandbox_files (dbid, fileid, name, filename, size) VALUES (?, 1, ?, ?, 1280), "
                  "(?, 2, ?, ?, 256)");
    b.bind(1, dbid).bind(2, name + "_Data").bind(3, file + ".mdf");
    b.bind(4, dbid).bind(5, name + "_Log").bind(6, file + "_log.ldf").step();
}

void Engine::setDatabaseState(const std::string& name, const std::string& state) {
    std::lock_guard lock(m_);
    auto db = d->findDatabase(name);
    if (!db)
        return;
    Impl::Query q(d->db, "UPDATE sandbox_databases SET state = ? WHERE dbid = ?");
    q.bind(1, state).bind(2, db->dbid).step();
}

std::vector<std::string> Engine::databases() {
    std::lock_guard lock(m_);
    std::vector<std::string> out;
    for (auto& r : d->allDatabases())
        out.push_back(r.name);
    return out;
}

void Engine::dropTable(const std::string& name) {
    std::lock_guard lock(m_);
    if (auto t = d->findUserTable(name))
        d->exec("DROP TABLE \"" + *t + "\"");
}

std::unique_ptr<Session> Engine::openSession(const std::string& database, const std::string& login,
                                             const std::string& host, const std::string& program) {
    std::lock_guard lock(m_);
    auto s = std::make_unique<Session>();
    s->spid = d->nextSpid++;
    auto db = d->findDatabase(database);
    s->database = db ? db->name : database;
    s->login = login;
    s->host = host;
    s->program = program;
    d->remember(*s);
    return s;
}

bool Engine::databaseExists(const std::string& name) {
    std::lock_guard lock(m_);
    return d->findDatabase(name).has_value();
}

void Engine::closeSession(Session& s) {
    std::lock_guard lock(m_);
    d->abandon(s);
    d->sessions.erase(s.spid);
}

void Engine::addForeignSession(ForeignSession s) {
    std::lock_guard lock(m_);
    if (s.spid == 0)
        s.spid = d->nextForeignSpid++;
    d->foreign.push_back(std::move(s));
}

void Engine::failStatements(const std::string& regex, Message error, int times) {
    std::lock_guard lock(m_);
    d->faults.push_back(
        {std::regex(regex, std::regex::ECMAScript | std::regex::icase), std::move(error), times});
}

BatchResult Engine::execBatch(Session& s, const std::string& sql) {
    std::lock_guard lock(m_);
    return d->batch(s, sql);
}

std::vector<std::string> Engine::statementLog() {
    std::lock_guard lock(m_);
    return d->log;
}

void Engine::clearStatementLog() {
    std::lock_guard lock(m_);
    d->log.clear();
}

}  // namespace sandbox
