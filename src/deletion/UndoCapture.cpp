// The catalogue rows of an account set, read before the purge and saved as an undo script.
#include "deletion/UndoCapture.h"

#include <algorithm>

#include <QDir>
#include <QStandardPaths>

#include "deletion/DeletionSql.h"
#include "deletion/DeletionText.h"

namespace deletion {

namespace {

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

QVariant cell(const SqlResult& r, qsizetype row, qsizetype column) {
    return column < r.rows[row].size() ? r.rows[row][column] : QVariant();
}

}  // namespace

QString undoFolder() {
    const QString overridden = qEnvironmentVariable("ACCTSET_UNDO_DIR");
    if (!overridden.isEmpty())
        return overridden;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("acctset-remover"));
}

namespace {

QString columnsOf(const QString& table) {
    return table + QStringLiteral(" columns");
}
QString rowsOf(const QString& table) {
    return table + QStringLiteral(" rows");
}
QString summaryOf(const QString& table) {
    return table + QStringLiteral(" summary");
}
const QString kServerName = QStringLiteral("server name");
}  // namespace

void UndoCapture::addQueries(NamedBatch& batch, const QStringList& tables) const {
    // The script runs only where its rows were read.
    batch.add(kServerName, QStringLiteral("select @@SERVERNAME"));
    for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(accountNo)) {
        if (!tables.contains(p.table, Qt::CaseInsensitive))
            continue;
        batch.add(columnsOf(p.table), DeletionSql::tableColumns(p.table));
        // Every table's rows are read here, the registration row too, with the count and checksum
        // the purge compares with, read just before them: a row that changes between the two reads
        // makes them disagree, and the purge then stops rather than delete a row the script does
        // not hold.
        batch.add(summaryOf(p.table), DeletionSql::savedRowsSummary(p));
        batch.add(rowsOf(p.table), p.rows);
    }
}

bool UndoCapture::tablesFrom(const QStringList& tables, const NamedBatch& batch, QList<undo::Table>* out,
                             QString* error, QList<SavedRows>* saved) const {
    if (!batch.complete() || batch.error().isError()) {
        const SqlError failed = batch.firstFailure();
        *error = failed.isError() ? serverWords(failed) : text::undoResultsMissing();
        return false;
    }
    for (const QString& table : tables) {
        const SqlResult meta = batch[columnsOf(table)];
        const SqlResult rows = batch[rowsOf(table)];
        undo::Table t{table, {}, {}, {}, {}};
        for (const DeletionSql::PurgeStatement& p : DeletionSql::purgeStatements(accountNo)) {
            if (p.table == table)
                t.condition = p.condition;
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
                *error = text::undoColumnMissing(table, c.name);
                return false;
            }
            t.columns << c;
            source << at;
        }
        if (t.columns.isEmpty()) {
            *error = text::undoNoColumns(table);
            return false;
        }
        for (const QVariantList& row : rows.rows) {
            QVariantList values;
            for (qsizetype at : source)
                values << (at >= 0 && at < row.size() ? row[at] : QVariant());
            t.rows << values;
        }
        const SqlResult summary = batch[summaryOf(table)];
        t.checksum = summary.rowCount() == 1 ? cell(summary, 0, 1) : QVariant();
        if (saved)
            saved->append({table, t.rows.size(), t.checksum});
        out->append(t);
    }
    return true;
}

bool UndoCapture::save(SqlClient& sql, const QStringList& tables, QString* path, QString* error,
                       QList<SavedRows>* saved) const {
    QList<undo::Table> read;
    NamedBatch batch;
    addQueries(batch, tables);
    batch.send(sql);
    if (!tablesFrom(tables, batch, &read, error, saved))
        return false;
    // The registration row goes back first and the integration log last: the purge's order reversed.
    std::reverse(read.begin(), read.end());
    const QDateTime now = QDateTime::currentDateTime();
    undo::Header header{server, accountNo, years, now, QStringLiteral("TQSystem"), {}};
    if (const SqlResult name = batch[kServerName]; name.rowCount() == 1)
        header.serverName = name.rows[0].value(0).toString();
    QString script;
    if (!undo::write(header, backups, read, &script, error))
        return false;
    *path = QDir(undoFolder()).filePath(undo::fileName(server, accountNo, now));
    return undo::save(*path, script, error);
}

}  // namespace deletion
