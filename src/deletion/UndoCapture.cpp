// The catalogue rows of an account set, read before the purge and saved as an undo script.
#include "deletion/UndoCapture.h"

#include <algorithm>

#include <QDir>
#include <QStandardPaths>

#include "deletion/DeletionSql.h"

namespace deletion {

namespace {

// A table's columns in order: name, type, identity, computed. The system type, so alias types
// (sysname, user types) are written as their base type; rowversion is the system type named
// timestamp
// (https://learn.microsoft.com/en-us/sql/relational-databases/system-catalog-views/sys-columns-transact-sql,
// https://learn.microsoft.com/en-us/sql/t-sql/functions/type-name-transact-sql).
QString columnsOf(const QString& table) {
    return QStringLiteral(
               "select c.name, TYPE_NAME(c.system_type_id), c.is_identity, c.is_computed from sys.columns c "
               "where c.object_id = OBJECT_ID('") +
           table + QStringLiteral("') order by c.column_id");
}

qsizetype columnIndex(const QStringList& columns, const QString& name) {
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool flag(const QVariant& v) {
    return v.typeId() == QMetaType::Bool ? v.toBool() : v.toInt() != 0;
}

QString text(const SqlResult& r, qsizetype row, const char* column) {
    return r.value(row, QString::fromLatin1(column)).toString().trimmed();
}

QVariant cell(const SqlResult& r, qsizetype row, qsizetype column) {
    return column < r.rows[row].size() ? r.rows[row][column] : QVariant();
}

// The purge's condition of a table, from its count.
QString conditionOf(const DeletionSql::PurgeStatement& p) {
    const qsizetype at = p.count.indexOf(QStringLiteral(" where "));
    return at < 0 ? QString() : p.count.mid(at + 7);
}

}  // namespace

QString undoFolder() {
    const QString overridden = qEnvironmentVariable("ACCTSET_UNDO_DIR");
    if (!overridden.isEmpty())
        return overridden;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("acctset-remover"));
}

QStringList UndoCapture::statements(const QStringList& tables) const {
    QStringList out{QStringLiteral("select @@SERVERNAME")};
    for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(accountNo)) {
        if (!tables.contains(p.table, Qt::CaseInsensitive))
            continue;
        // The same condition as the delete, so the script holds exactly the rows it removes.
        QString rows = p.count;
        rows.replace(QStringLiteral("select count(*) from "), QStringLiteral("select * from "));
        // The summary first: a row that changes between the two reads makes them disagree, and the
        // purge then stops rather than delete a row the script does not hold.
        out << columnsOf(p.table) << DeletionSql::savedRowsSummary(p) << rows;
    }
    return out;
}

bool UndoCapture::tablesFrom(const QStringList& tables, const QList<SqlResult>& results,
                             QList<undo::Table>* out, QString* error, QList<SavedRows>* saved) const {
    const SqlError failed = firstError(results);
    if (failed.isError() || results.size() < 1 + 3 * tables.size()) {
        *error = failed.isError() ? serverWords(failed) : QStringLiteral("服务器未返回全部结果");
        return false;
    }
    for (qsizetype k = 0; k < tables.size(); ++k) {
        const SqlResult& meta = results[1 + 3 * k];
        const SqlResult& summary = results[2 + 3 * k];
        const SqlResult& rows = results[3 + 3 * k];
        undo::Table t{tables[k], {}, {}, {}};
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(accountNo)) {
            if (p.table == tables[k])
                t.condition = conditionOf(p);
        }
        QList<qsizetype> source;  // result column of each script column
        for (qsizetype i = 0; i < meta.rowCount(); ++i) {
            undo::Column c;
            c.name = cell(meta, i, 0).toString().trimmed();
            c.type = cell(meta, i, 1).toString().trimmed().toLower();
            c.identity = flag(cell(meta, i, 2));
            c.generated = flag(cell(meta, i, 3)) || c.type == QLatin1String("timestamp");
            const qsizetype at = columnIndex(rows.columns, c.name);
            if (at < 0 && !c.generated) {
                *error = QStringLiteral("%1.%2 未在结果中").arg(tables[k], c.name);
                return false;
            }
            t.columns << c;
            source << at;
        }
        if (t.columns.isEmpty()) {
            *error = QStringLiteral("无法读取表%1的列").arg(tables[k]);
            return false;
        }
        for (const QVariantList& row : rows.rows) {
            QVariantList values;
            for (qsizetype at : source)
                values << (at >= 0 && at < row.size() ? row[at] : QVariant());
            t.rows << values;
        }
        if (saved)
            saved->append(
                {tables[k], t.rows.size(), summary.rowCount() == 1 ? cell(summary, 0, 1) : QVariant()});
        out->append(t);
    }
    return true;
}

bool UndoCapture::save(SqlClient& sql, QString* path, QString* error, QList<SavedRows>* saved) const {
    const SqlResult listed = sql.query(DeletionSql::existingTables());
    if (!listed.ok()) {
        *error = serverWords(listed.error);
        return false;
    }
    QStringList tables;  // in purge order
    for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(accountNo)) {
        for (qsizetype i = 0; i < listed.rowCount(); ++i) {
            if (text(listed, i, "name").compare(p.table, Qt::CaseInsensitive) == 0)
                tables << p.table;
        }
    }
    QList<undo::Table> read;
    const QList<SqlResult> results = sql.batch(statements(tables));
    if (!tablesFrom(tables, results, &read, error, saved))
        return false;
    // The registration row goes back first and the integration log last: the purge's order reversed.
    std::reverse(read.begin(), read.end());
    const QDateTime now = QDateTime::currentDateTime();
    undo::Header header{server, accountNo, years, now, QStringLiteral("TQSystem"), {}};
    if (results[0].rowCount() == 1)
        header.serverName = results[0].rows[0].value(0).toString();
    QString script;
    if (!undo::write(header, backups, read, &script, error))
        return false;
    *path = QDir(undoFolder()).filePath(undo::fileName(server, accountNo, now));
    return undo::save(*path, script, error);
}

}  // namespace deletion
