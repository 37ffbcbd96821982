// Reads the rows of an ODBC result straight from the driver: in blocks for bounded text columns, else value
// by value.
#include "sql/OdbcRows.h"

#ifdef _WIN32
// Windows' ODBC headers use its base types without including them.
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <vector>

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

namespace {

constexpr SQLULEN kBlockRows = 256;
// Wider columns, and (max) ones whose size the driver gives as 0, are read value by value.
constexpr SQLULEN kWidestText = 4000;

enum class Block { Read, NotText, Failed };

struct Column {
    SQLLEN width = 0;  // in UTF-16 units, terminator included
    std::vector<SQLWCHAR> text;
    std::vector<SQLLEN> length;
};

SQLHSTMT statementOf(const QSqlQuery& q) {
    const QVariant h = q.result() ? q.result()->handle() : QVariant();
    // SQLHANDLE is a void*; Qt names the type after either.
    if (!h.isValid() || (qstrcmp(h.typeName(), "SQLHANDLE") != 0 && qstrcmp(h.typeName(), "void*") != 0))
        return SQL_NULL_HSTMT;
    return *static_cast<const SQLHANDLE*>(h.constData());
}

bool isBoundedText(SQLSMALLINT type, SQLULEN size) {
    const bool text = type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_WCHAR || type == SQL_WVARCHAR;
    return text && size > 0 && size <= kWidestText;
}

// The driver's diagnostics as QtSql reports them: texts joined by spaces, numbers by ';'.
QSqlError diagnostics(SQLHSTMT stmt) {
    QStringList texts;
    QStringList numbers;
    SQLWCHAR state[6];
    SQLWCHAR message[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1; SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, i, state, &native, message,
                                                         SQLSMALLINT(std::size(message)), &length));
         ++i) {
        const qsizetype n = qMin<qsizetype>(length, qsizetype(std::size(message)) - 1);
        texts << QString::fromUtf16(reinterpret_cast<const char16_t*>(message), n);
        numbers << QString::number(native);
    }
    if (texts.isEmpty())
        texts << QStringLiteral("Unable to fetch row");
    return QSqlError(QString(), texts.join(QLatin1Char(' ')), QSqlError::StatementError,
                     numbers.join(QLatin1Char(';')));
}

// Binds every column as UTF-16 text, or tells that the result is not all bounded text.
Block bind(SQLHSTMT stmt, std::vector<Column>& columns, SQLULEN* fetched) {
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &count)) || count <= 0)
        return Block::NotText;
    columns.resize(size_t(count));
    for (SQLUSMALLINT c = 0; c < SQLUSMALLINT(count); ++c) {
        SQLSMALLINT type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (!SQL_SUCCEEDED(
                SQLDescribeCol(stmt, c + 1, nullptr, 0, nullptr, &type, &size, &digits, &nullable)) ||
            !isBoundedText(type, size))
            return Block::NotText;
        // A character of the server's code page or of UCS-2 is at most two UTF-16 units.
        columns[c].width = SQLLEN(2 * size + 1);
    }
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, SQLPOINTER(SQL_BIND_BY_COLUMN), 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, SQLPOINTER(kBlockRows), 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, fetched, 0)))
        return Block::NotText;
    for (SQLUSMALLINT c = 0; c < SQLUSMALLINT(count); ++c) {
        Column& col = columns[c];
        col.text.resize(size_t(col.width) * kBlockRows);
        col.length.resize(kBlockRows);
        if (!SQL_SUCCEEDED(SQLBindCol(stmt, c + 1, SQL_C_WCHAR, col.text.data(),
                                      col.width * SQLLEN(sizeof(SQLWCHAR)), col.length.data())))
            return Block::NotText;
    }
    return Block::Read;
}

// The statement goes back to one row per fetch and no bound column, as QtSql expects it.
void unbind(SQLHSTMT stmt) {
    SQLFreeStmt(stmt, SQL_UNBIND);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, SQLPOINTER(1), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
}

QVariant valueAt(const Column& col, SQLULEN row) {
    const SQLLEN bytes = col.length[row];
    if (bytes == SQL_NULL_DATA)
        return {};
    const auto* text = reinterpret_cast<const char16_t*>(col.text.data() + row * SQLULEN(col.width));
    const qsizetype units =
        bytes >= 0 ? qMin<qsizetype>(bytes / 2, col.width - 1) : std::char_traits<char16_t>::length(text);
    return QString::fromUtf16(text, units);
}

bool appendBlock(const std::vector<Column>& columns, SQLULEN fetched, QList<QVariantList>* rows,
                 QSqlError* error) {
    for (SQLULEN r = 0; r < fetched; ++r) {
        QVariantList row;
        row.reserve(qsizetype(columns.size()));
        for (const Column& col : columns) {
            // The buffer holds twice the declared size: a longer value is a driver fault, and a cut
            // value would be a wrong one.
            if (col.length[r] >= col.width * SQLLEN(sizeof(SQLWCHAR))) {
                *error = QSqlError(QString(), QStringLiteral("A value is longer than its column."),
                                   QSqlError::StatementError);
                return false;
            }
            row << valueAt(col, r);
        }
        rows->append(std::move(row));
    }
    return true;
}

Block readBlocks(SQLHSTMT stmt, QList<QVariantList>* rows, QSqlError* error) {
    std::vector<Column> columns;
    SQLULEN fetched = 0;
    Block outcome = bind(stmt, columns, &fetched);
    while (outcome == Block::Read) {
        // QtSql asks for ODBC 2 behaviour, under which the driver's SQLFetch reads one row whatever
        // the array size; SQLFetchScroll reads the block.
        const SQLRETURN rc = SQLFetchScroll(stmt, SQL_FETCH_NEXT, 0);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc)) {
            *error = diagnostics(stmt);
            outcome = Block::Failed;
            break;
        }
        if (!appendBlock(columns, fetched, rows, error)) {
            outcome = Block::Failed;
            break;
        }
    }
    unbind(stmt);
    return outcome;
}

// Value by value, straight from the driver. QtSql's own reading turns a text longer than its
// declared size in the client's character set (a long Chinese name in UTF-8) into Null, and a
// decimal into a double; a wrong value is worse than a slow one.
enum class Kind { Int, BigInt, Double, Date, Time, DateTime, Binary, Text };

// datetime2, time and datetimeoffset carry up to 100 ns, which TIMESTAMP_STRUCT holds and QTime does not:
// a fraction finer than milliseconds is read as the driver's text. Both drivers describe time as
// SQL_SS_TIME2 and datetimeoffset as SQL_SS_TIMESTAMPOFFSET, which fall to text below:
// https://learn.microsoft.com/en-us/sql/relational-databases/native-client-odbc-date-time/data-type-support-for-odbc-date-and-time-improvements
Kind kindOf(SQLSMALLINT type, SQLSMALLINT digits) {
    if ((type == SQL_TIMESTAMP || type == SQL_TYPE_TIMESTAMP) && digits > 3)
        return Kind::Text;
    if ((type == SQL_TIME || type == SQL_TYPE_TIME) && digits > 0)
        return Kind::Text;
    switch (type) {
        case SQL_BIT:
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
            return Kind::Int;
        case SQL_BIGINT:
            return Kind::BigInt;
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
            return Kind::Double;
        case SQL_DATE:
        case SQL_TYPE_DATE:
            return Kind::Date;
        case SQL_TIME:
        case SQL_TYPE_TIME:
            return Kind::Time;
        case SQL_TIMESTAMP:
        case SQL_TYPE_TIMESTAMP:
            return Kind::DateTime;
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY:
            return Kind::Binary;
        default:
            return Kind::Text;  // text, and decimals kept digit for digit
    }
}

// A text or binary value in as many pieces as it takes; false on a driver error.
bool readLong(SQLHSTMT stmt, SQLUSMALLINT col, bool binary, QVariant* out) {
    constexpr SQLLEN kPiece = 4096;
    std::vector<char> piece(size_t(kPiece) + sizeof(SQLWCHAR));
    QByteArray bytes;
    const SQLLEN unit = binary ? 1 : SQLLEN(sizeof(SQLWCHAR));
    for (;;) {
        SQLLEN length = 0;
        const SQLRETURN rc = SQLGetData(stmt, col, binary ? SQL_C_BINARY : SQL_C_WCHAR, piece.data(),
                                        kPiece + (binary ? 0 : unit), &length);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc))
            return false;
        if (length == SQL_NULL_DATA) {
            *out = QVariant();
            return true;
        }
        // A piece that did not hold the rest is full (less the terminator for text).
        const bool whole = rc == SQL_SUCCESS && length != SQL_NO_TOTAL && length <= kPiece;
        bytes.append(piece.data(), whole ? length : kPiece - (kPiece % unit));
        if (whole)
            break;
    }
    *out = binary ? QVariant(bytes)
                  : QVariant(QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                                bytes.size() / 2));
    return true;
}

template <typename T>
bool readFixed(SQLHSTMT stmt, SQLUSMALLINT col, SQLSMALLINT cType, T* value, bool* null) {
    SQLLEN length = 0;
    if (!SQL_SUCCEEDED(SQLGetData(stmt, col, cType, value, sizeof(T), &length)))
        return false;
    *null = length == SQL_NULL_DATA;
    return true;
}

bool readValue(SQLHSTMT stmt, SQLUSMALLINT col, Kind kind, QVariant* out) {
    bool null = false;
    bool ok = true;
    switch (kind) {
        case Kind::Int: {
            SQLINTEGER v = 0;
            ok = readFixed(stmt, col, SQL_C_SLONG, &v, &null);
            *out = int(v);
            break;
        }
        case Kind::BigInt: {
            SQLBIGINT v = 0;
            ok = readFixed(stmt, col, SQL_C_SBIGINT, &v, &null);
            *out = qlonglong(v);
            break;
        }
        case Kind::Double: {
            SQLDOUBLE v = 0;
            ok = readFixed(stmt, col, SQL_C_DOUBLE, &v, &null);
            *out = double(v);
            break;
        }
        case Kind::Date: {
            DATE_STRUCT d{};
            ok = readFixed(stmt, col, SQL_C_DATE, &d, &null);
            *out = QDate(d.year, d.month, d.day);
            break;
        }
        case Kind::Time: {
            TIME_STRUCT t{};
            ok = readFixed(stmt, col, SQL_C_TIME, &t, &null);
            *out = QTime(t.hour, t.minute, t.second);
            break;
        }
        case Kind::DateTime: {
            TIMESTAMP_STRUCT t{};
            ok = readFixed(stmt, col, SQL_C_TIMESTAMP, &t, &null);
            *out = QDateTime(QDate(t.year, t.month, t.day),
                             QTime(t.hour, t.minute, t.second, int(t.fraction / 1000000)));
            break;
        }
        case Kind::Binary:
            return readLong(stmt, col, true, out);
        case Kind::Text:
            return readLong(stmt, col, false, out);
    }
    if (null)
        *out = QVariant();
    return ok;
}

bool readValues(SQLHSTMT stmt, QList<QVariantList>* rows, QSqlError* error) {
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &count)))
        count = 0;
    std::vector<Kind> kinds;
    for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(qMax<SQLSMALLINT>(count, 0)); ++c) {
        SQLSMALLINT type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeCol(stmt, c, nullptr, 0, nullptr, &type, &size, &digits, &nullable);
        kinds.push_back(kindOf(type, digits));
    }
    for (;;) {
        const SQLRETURN rc = kinds.empty() ? SQL_NO_DATA : SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            return true;
        QVariantList row;
        row.reserve(qsizetype(kinds.size()));
        bool ok = SQL_SUCCEEDED(rc);
        for (size_t c = 0; ok && c < kinds.size(); ++c) {
            QVariant v;
            ok = readValue(stmt, SQLUSMALLINT(c + 1), kinds[c], &v);
            row << v;
        }
        if (!ok) {
            *error = diagnostics(stmt);
            return false;
        }
        rows->append(std::move(row));
    }
}

}  // namespace

bool readOdbcRows(QSqlQuery& q, QList<QVariantList>* rows, QSqlError* error) {
    const SQLHSTMT stmt = statementOf(q);
    if (stmt != SQL_NULL_HSTMT) {
        const Block b = readBlocks(stmt, rows, error);
        if (b != Block::NotText)
            return b == Block::Read;
        return readValues(stmt, rows, error);
    }
    const int n = q.record().count();
    while (q.next()) {
        QVariantList row;
        row.reserve(n);
        for (int i = 0; i < n; ++i)
            row << (q.isNull(i) ? QVariant() : q.value(i));
        rows->append(std::move(row));
    }
    if (!q.lastError().isValid())
        return true;
    *error = q.lastError();
    return false;
}
