// The undo script: typed literals of the rows read before the purge, and the restores of the backups.
#include "deletion/UndoScript.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include "sql/SqlText.h"

namespace deletion::undo {
namespace {

const QStringList kText = {"char",  "varchar", "text", "nchar",           "nvarchar",
                           "ntext", "sysname", "xml",  "uniqueidentifier"};
const QStringList kInteger = {"tinyint", "smallint", "int", "bigint"};
const QStringList kExact = {"decimal", "numeric", "money", "smallmoney"};
const QStringList kApproximate = {"float", "real"};
const QStringList kBinary = {"binary", "varbinary", "image"};

bool matches(const QString& text, const char* pattern) {
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern)))
        .match(text)
        .hasMatch();
}

QString quoted(const QString& text) {
    return QStringLiteral("N'") + SqlText::literal(text) + QLatin1Char('\'');
}

// A number the driver handed over as text is kept digit for digit; one handed over as a number is
// written back with every digit it has.
QString number(const QVariant& value, const char* textPattern) {
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        const QString text = value.toString().trimmed();
        return matches(text, textPattern) ? text : QString();
    }
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
        return QString::number(value.toDouble(), 'g', 17);
    bool ok = false;
    const qlonglong n = value.toLongLong(&ok);
    return ok ? QString::number(n) : QString();
}

// ISO 8601 forms are read the same whatever the session's DATEFORMAT or LANGUAGE:
// https://learn.microsoft.com/en-us/previous-versions/sql/sql-server-2008-r2/ms180878(v=sql.105)
QString dateTime(const QVariant& value, const QString& type) {
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        const bool iso =
            matches(text, R"(\d{4}-\d{2}-\d{2}(T\d{2}:\d{2}:\d{2}(\.\d{1,7})?)?([+-]\d{2}:\d{2})?)") ||
            matches(text, R"(\d{2}:\d{2}:\d{2}(\.\d{1,7})?)");
        return iso ? QLatin1Char('\'') + text + QLatin1Char('\'') : QString();
    }
    if (type == QLatin1String("date")) {
        const QDate d = value.toDate();
        return d.isValid() ? QLatin1Char('\'') + d.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('\'')
                           : QString();
    }
    if (type == QLatin1String("time")) {
        const QTime t = value.toTime();
        return t.isValid()
                   ? QLatin1Char('\'') + t.toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char('\'')
                   : QString();
    }
    const QDateTime dt = value.toDateTime();
    if (!dt.isValid())
        return {};
    return QLatin1Char('\'') + dt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + QLatin1Char('\'');
}

// Header values go into comment lines: a line break in them would end the comment.
QString oneLine(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString headerLines(const Header& h) {
    QString out;
    out += QStringLiteral("-- 帐套删除工具 撤销脚本 (undo script)\n");
    out += QStringLiteral("-- 服务器 (server): %1\n").arg(oneLine(h.server));
    out += QStringLiteral("-- 帐套号 (account set): %1\n").arg(oneLine(h.accountNo));
    out += QStringLiteral("-- 年度 (years): %1\n").arg(oneLine(h.years.join(QLatin1Char(';'))));
    out += QStringLiteral("-- 生成时间 (made): %1\n").arg(h.madeAt.toString(Qt::ISODate));
    out += QStringLiteral(
        "-- 在上述服务器上以 sa 运行 (run on that server as sa): sqlcmd -i, tsql, or a query window.\n");
    out += QStringLiteral("-- 先从备份还原年度数据库, 再在一个事务中恢复系统库中的帐套记录.\n");
    out += QStringLiteral(
        "-- It restores each yearly database from its backup, then puts the catalogue rows back in one "
        "transaction.\n");
    return out;
}

bool insertLines(const Table& table, QString* out, QString* error) {
    QStringList names;
    QList<qsizetype> kept;
    bool identity = false;
    for (qsizetype c = 0; c < table.columns.size(); ++c) {
        const Column& col = table.columns[c];
        if (col.generated)
            continue;
        names << SqlText::bracketed(col.name);
        kept << c;
        identity = identity || col.identity;
    }
    const QString target = SqlText::bracketed(table.name);
    if (identity)
        *out += QStringLiteral("SET IDENTITY_INSERT %1 ON;\n").arg(target);
    for (qsizetype r = 0; r < table.rows.size(); ++r) {
        QStringList values;
        for (qsizetype c : kept) {
            const QVariant v = c < table.rows[r].size() ? table.rows[r][c] : QVariant();
            const QString lit = literal(v, table.columns[c].type);
            if (lit.isEmpty()) {
                *error = QStringLiteral("%1.%2 (%3) 第%4行的值无法写成脚本")
                             .arg(table.name, table.columns[c].name, table.columns[c].type)
                             .arg(r + 1);
                return false;
            }
            values << lit;
        }
        *out += QStringLiteral("INSERT INTO %1 (%2) VALUES (%3);\n")
                    .arg(target, names.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
    }
    if (identity)
        *out += QStringLiteral("SET IDENTITY_INSERT %1 OFF;\n").arg(target);
    return true;
}

}  // namespace

QString literal(const QVariant& value, const QString& typeName) {
    if (!value.isValid() || value.isNull())
        return QStringLiteral("NULL");
    const QString type = typeName.toLower();
    if (kText.contains(type))
        return quoted(value.toString());
    if (kInteger.contains(type))
        return number(value, R"(-?\d+)");
    if (type == QLatin1String("bit"))
        return value.typeId() == QMetaType::Bool ? QString(value.toBool() ? "1" : "0")
                                                 : number(value, "[01]");
    if (kExact.contains(type))
        return number(value, R"(-?\d+(\.\d+)?)");
    if (kApproximate.contains(type))
        return number(value, R"(-?\d+(\.\d+)?([eE][-+]?\d+)?)");
    if (kBinary.contains(type)) {
        return value.typeId() == QMetaType::QByteArray
                   ? QStringLiteral("0x") + QString::fromLatin1(value.toByteArray().toHex().toUpper())
                   : QString();
    }
    if (type.startsWith(QLatin1String("date")) || type == QLatin1String("smalldatetime") ||
        type == QLatin1String("time"))
        return dateTime(value, type);
    return {};
}

bool write(const Header& header, const QList<Backup>& backups, const QList<Table>& tables, QString* script,
           QString* error) {
    QString out = headerLines(header);
    out += QStringLiteral("SET NOCOUNT ON;\nGO\n");
    for (const Backup& b : backups) {
        out += QStringLiteral("RESTORE DATABASE %1 FROM DISK = %2 WITH RECOVERY;\nGO\n")
                   .arg(SqlText::bracketed(b.database), quoted(b.file));
    }
    out += QStringLiteral("USE %1;\nGO\n").arg(SqlText::bracketed(header.catalogue));
    out += QStringLiteral("SET XACT_ABORT ON;\nBEGIN TRANSACTION;\n");
    for (const Table& t : tables) {
        if (!insertLines(t, &out, error))
            return false;
    }
    out += QStringLiteral("COMMIT TRANSACTION;\nGO\n");
    *script = out;
    return true;
}

bool save(const QString& path, const QString& script, QString* error) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("无法创建文件夹 %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + script.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

QString fileName(const QString& server, const QString& accountNo, const QDateTime& at) {
    QString name =
        QStringLiteral("%1_%2_%3.sql").arg(server, accountNo, at.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    static const QRegularExpression unsafe(QStringLiteral(R"([\\/:*?"<>|\x00-\x1f])"));
    name.replace(unsafe, QStringLiteral("_"));
    return name;
}

}  // namespace deletion::undo
