// Values as the server types them: conversions by type precedence, comparison, the keys of DISTINCT.
#include "sandbox/sql/Value.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <sstream>

#include "sandbox/Text.h"
#include "sandbox/sql/Collation.h"
#include "sandbox/sql/Errors.h"

namespace sandbox::sql {

bool isIntType(ColType t) {
    return t == ColType::Int || t == ColType::SmallInt || t == ColType::BigInt || t == ColType::Bit;
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
        case ColType::VarBinary:
            return "varbinary";
        case ColType::Decimal:
            return "decimal";
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

Cell nullCell(ColType t) {
    Cell c;
    c.t = t;
    return c;
}
Cell intCell(int64_t v, ColType t) {
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
    if (c.t == ColType::Decimal)
        return std::stoll(atScale(c.v.text, 0).empty() ? "0" : c.v.text.substr(0, c.v.text.find('.')));
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
        raise(
            {.number = 245,
             .state = 1,
             .severity = 16,
             .text = "Conversion failed when converting the " + std::string(c.ansi ? "varchar" : "nvarchar") +
                     " value '" + c.v.text + "' to data type " + typeName(target) + "."},
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
        raise({.number = 8114,
               .state = 5,
               .severity = 16,
               .text = "Error converting data type " + std::string(c.ansi ? "varchar" : "nvarchar") +
                       " to float."},
              SqlError::Kind::RuntimeAbort);
    return d;
}

// Compares two non-null values after the conversion the server applies by type precedence.
int compareCells(const Cell& a, const Cell& b) {
    if (a.t == ColType::Float || b.t == ColType::Float || a.t == ColType::Decimal ||
        b.t == ColType::Decimal) {
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
    if (d.find("binary") != std::string::npos || d.find("image") != std::string::npos) {
        size_t open = d.find('(');
        *maxChars =
            open == std::string::npos ? 8000 : std::max(1, std::min(8000, std::atoi(d.c_str() + open + 1)));
        return ColType::VarBinary;
    }
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
    if (d.find("decimal") != std::string::npos || d.find("numeric") != std::string::npos ||
        d.find("money") != std::string::npos)
        return ColType::Decimal;
    if (d.find("float") != std::string::npos || d.find("real") != std::string::npos)
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

Column col(std::string name, ColType t, int maxChars, bool nullable) {
    Column c;
    c.name = std::move(name);
    c.type = t;
    c.maxChars = maxChars;
    c.nullable = nullable;
    return c;
}

// decimal(p[,s]) (18, 0 by default), numeric the same, money (19, 4), smallmoney (10, 4):
// https://learn.microsoft.com/en-us/sql/t-sql/data-types/decimal-and-numeric-transact-sql
void decimalFromDecl(const std::string& declared, Column* c) {
    std::string d = lower(declared);
    c->money = d.find("money") != std::string::npos;
    if (c->money) {
        c->precision = d.find("smallmoney") != std::string::npos ? 10 : 19;
        c->scale = 4;
        return;
    }
    c->precision = 18;
    c->scale = 0;
    const size_t open = d.find('(');
    if (open == std::string::npos)
        return;
    c->precision = std::max(1, std::min(38, std::atoi(d.c_str() + open + 1)));
    const size_t comma = d.find(',', open);
    if (comma != std::string::npos)
        c->scale = std::max(0, std::min(c->precision, std::atoi(d.c_str() + comma + 1)));
}

// Digit by digit, so that no value passes through a double; an exponent (how SQLite may print a
// large REAL) goes through long double.
std::string atScale(const std::string& number, int scale) {
    std::string s = trimSpaces(number);
    if (s.find_first_of("eE") != std::string::npos) {
        char* end = nullptr;
        const long double x = std::strtold(s.c_str(), &end);
        if (s.empty() || end != s.c_str() + s.size())
            return {};
        char buf[128];
        std::snprintf(buf, sizeof buf, "%.*Lf", scale, x);
        return buf;
    }
    bool negative = false;
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    std::string whole, frac;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (s[i] == '.' && !point)
            point = true;
        else if (s[i] >= '0' && s[i] <= '9')
            (point ? frac : whole) += s[i];
        else
            return {};
    }
    if (whole.empty() && frac.empty())
        return {};
    const bool up = static_cast<int>(frac.size()) > scale && frac[static_cast<size_t>(scale)] >= '5';
    frac.resize(static_cast<size_t>(scale), '0');
    std::string digits = (whole.empty() ? "0" : whole) + frac;
    if (up) {
        size_t k = digits.size();
        while (k > 0 && digits[k - 1] == '9')
            digits[--k] = '0';
        if (k == 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[k - 1];
    }
    const size_t cut = digits.size() - static_cast<size_t>(scale);
    std::string w = digits.substr(0, cut);
    w.erase(0, std::min(w.find_first_not_of('0'), w.size() - 1));
    std::string out = w + (scale > 0 ? "." + digits.substr(cut) : "");
    const bool zero = out.find_first_not_of("0.") == std::string::npos;
    return negative && !zero ? "-" + out : out;
}

Value convertOut(Cell&& c, ColType t) {
    if (c.v.null)
        return Value::ofNull();
    if (t == ColType::Decimal && c.t != ColType::Decimal)
        return Value::ofText(cellText(c));
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

std::optional<Column> castTarget(const std::string& name, int length) {
    if (name == "nvarchar" || name == "varchar" || name == "nchar" || name == "char")
        return col(name, ColType::NVarChar, length, true);
    if (name == "sysname")
        return col(name, ColType::NVarChar, 128, true);
    if (name == "sql_variant") {
        Column c = col(name, ColType::NVarChar, 4000, true);
        c.variant = true;
        return c;
    }
    if (name == "decimal" || name == "numeric" || name == "money" || name == "smallmoney") {
        Column c = col(name, ColType::Decimal, 0, true);
        decimalFromDecl(name, &c);
        return c;
    }
    const std::pair<const char*, ColType> fixed[] = {
        {"int", ColType::Int},       {"smallint", ColType::SmallInt}, {"tinyint", ColType::SmallInt},
        {"bigint", ColType::BigInt}, {"bit", ColType::Bit},           {"float", ColType::Float},
        {"real", ColType::Float},    {"datetime", ColType::DateTime},
    };
    for (const auto& [n, t] : fixed)
        if (name == n)
            return col(name, t, 0, true);
    return std::nullopt;
}

Cell convertCell(const Cell& c, const Column& target) {
    if (c.v.null)
        return nullCell(target.type);
    if (isIntType(target.type)) {
        int64_t v = toInt(c, target.type);
        return intCell(target.type == ColType::Bit ? (v != 0) : v, target.type);
    }
    if (target.type == ColType::Float) {
        Cell r = nullCell(ColType::Float);
        r.v.null = false;
        r.v.f = toFloat(c);
        return r;
    }
    if (target.type == ColType::Decimal) {
        const std::string n = atScale(cellText(c), target.scale);
        if (n.empty())
            raise({.number = 8114,
                   .state = 5,
                   .severity = 16,
                   .text = "Error converting data type " + std::string(c.ansi ? "varchar" : "nvarchar") +
                           " to numeric."},
                  SqlError::Kind::RuntimeAbort);
        Cell r = textCell(n);
        r.t = ColType::Decimal;
        return r;
    }
    Cell r = textCell(cellText(c));
    r.t = target.type;
    r.ansi = target.name == "varchar" || target.name == "char";
    if (target.type != ColType::NVarChar)
        return r;
    std::u32string u = decodeUtf8(r.v.text);
    if (u.size() > static_cast<size_t>(target.maxChars))
        r.v.text = encodeUtf8(u.substr(0, static_cast<size_t>(target.maxChars)));
    if (target.name == "nchar" || target.name == "char")
        r.v.text = padRight(r.v.text, static_cast<size_t>(target.maxChars));
    return r;
}

}  // namespace sandbox::sql
