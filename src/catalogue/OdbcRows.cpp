// Reads the rows of an ODBC result: in blocks for bounded text columns, else through QtSql.
#include "catalogue/OdbcRows.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <vector>

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

}  // namespace

bool readOdbcRows(QSqlQuery& q, QList<QVariantList>* rows, QSqlError* error) {
    const SQLHSTMT stmt = statementOf(q);
    if (stmt != SQL_NULL_HSTMT) {
        const Block b = readBlocks(stmt, rows, error);
        if (b != Block::NotText)
            return b == Block::Read;
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
