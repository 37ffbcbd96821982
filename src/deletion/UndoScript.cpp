// The undo script: typed literals of the rows read before the purge, and the restores of the backups.
#include "deletion/UndoScript.h"

#include <QCryptographicHash>
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

// A character a runner or a comment could end a line on, or that would not survive a copy and paste.
bool isControl(char16_t u) {
    return u < 0x20 || u == 0x7F || u == 0x85 || u == 0x2028 || u == 0x2029;
}

bool isLoneSurrogate(const QString& s, qsizetype i) {
    const QChar c = s[i];
    if (c.isHighSurrogate())
        return i + 1 >= s.size() || !s[i + 1].isLowSurrogate();
    if (c.isLowSurrogate())
        return i == 0 || !s[i - 1].isHighSurrogate();
    return false;
}

// Only concatenation with a large value keeps more than 4000 characters:
// https://learn.microsoft.com/en-us/sql/t-sql/language-elements/string-concatenation-transact-sql
constexpr qsizetype kLongestPlain = 4000;

// A script line no runner takes for its own: header values go into comments, where a line break
// would end the comment and "$(" is still expanded by sqlcmd.
QString oneLine(QString text) {
    for (QChar& c : text) {
        if (isControl(c.unicode()))
            c = QLatin1Char(' ');
    }
    text.replace(QStringLiteral("$("), QStringLiteral("$ ("));
    return text;
}

// RAISERROR reads % in its message as a format; the words go in as its argument instead.
QString stopStatement(const QString& words) {
    return QStringLiteral("RAISERROR(N'%s', 16, 1, %1); SET NOEXEC ON;").arg(text(words));
}

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

// Decimals and money are kept digit for digit. Microsoft's drivers leave out the zero before the
// point (".00", "-.5000"), FreeTDS writes it; both are written with it.
QString exact(const QVariant& value) {
    QString n = number(value, R"(-?(\d+(\.\d*)?|\.\d+))");
    if (n.startsWith(QLatin1Char('.')) || n.startsWith(QLatin1String("-.")))
        n.insert(n.indexOf(QLatin1Char('.')), QLatin1Char('0'));
    return n;
}

// ISO 8601 forms are read the same whatever the session's DATEFORMAT or LANGUAGE:
// https://learn.microsoft.com/en-us/previous-versions/sql/sql-server-2008-r2/ms180878(v=sql.105)
// The drivers hand datetime2, time and datetimeoffset over as text at the column's full precision,
// with a space before the time and before the offset ("2003-01-01 08:00:00.1234567 +08:00").
QString dateTime(const QVariant& value, const QString& type) {
    const bool legacy = type == QLatin1String("datetime") || type == QLatin1String("smalldatetime");
    if (value.typeId() == QMetaType::QString) {
        static const QRegularExpression stamp(QRegularExpression::anchoredPattern(QStringLiteral(
            R"((\d{4}-\d{2}-\d{2})(?:[T ](\d{2}:\d{2}:\d{2}(?:\.\d{1,7})?))? ?([+-]\d{2}:\d{2}|Z)?)")));
        static const QRegularExpression clock(
            QRegularExpression::anchoredPattern(QStringLiteral(R"(\d{2}:\d{2}:\d{2}(\.\d{1,7})?)")));
        const QString text = value.toString().trimmed();
        if (clock.match(text).hasMatch())
            return QLatin1Char('\'') + text + QLatin1Char('\'');
        const QRegularExpressionMatch m = stamp.match(text);
        if (!m.hasMatch() || (legacy && !m.captured(3).isEmpty()))
            return {};
        QString iso = m.captured(1);
        // A date alone is read by DATEFORMAT for datetime and smalldatetime; with a time it is not.
        if (!m.captured(2).isEmpty() || legacy)
            iso += QLatin1Char('T') + (m.captured(2).isEmpty() ? QStringLiteral("00:00:00") : m.captured(2));
        return QLatin1Char('\'') + iso + m.captured(3) + QLatin1Char('\'');
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

// A name from the server's catalogue goes into the script bracketed; a line break or "$(" in it could
// not be written so that every runner reads it alike.
bool writableName(const QString& name) {
    for (QChar c : name) {
        if (isControl(c.unicode()))
            return false;
    }
    return !name.contains(QStringLiteral("$("));
}

QString checksumText(const QVariant& checksum) {
    return checksum.isValid() && !checksum.isNull() ? QString::number(checksum.toLongLong())
                                                    : QStringLiteral("NULL");
}

QString headerLines(const Header& h, const QList<Backup>& backups, const QList<Rows>& tables) {
    QString out;
    out += QStringLiteral("-- 帐套删除工具 撤销脚本 (undo script)\n");
    out += QStringLiteral("-- 服务器 (server): %1\n").arg(oneLine(h.server));
    out += QStringLiteral("-- @@SERVERNAME: %1\n").arg(oneLine(h.serverName));
    out += QStringLiteral("-- 帐套号 (account set): %1\n").arg(oneLine(h.accountNo));
    out += QStringLiteral("-- 年度 (years): %1\n").arg(oneLine(h.years.join(QLatin1Char(';'))));
    out += QStringLiteral("-- 生成时间 (made): %1\n").arg(h.madeAt.toString(Qt::ISODate));
    out += QStringLiteral(
        "-- 在上述服务器上以 sa 运行 (run on that server as sa): sqlcmd -i, tsql, or a query window.\n");
    out += QStringLiteral("-- 先从备份还原不存在的年度数据库, 再在一个事务中恢复系统库中的帐套记录;\n");
    out += QStringLiteral(
        "-- 帐套仍在系统库中时只还原数据库, 不重复插入记录. 任一步失败, 其后的批处理都不执行.\n");
    out += QStringLiteral(
        "-- It restores each yearly database that is missing from its backup, then puts the catalogue rows\n"
        "-- back in one transaction, unless the account set is still in the catalogue. It runs only on the\n"
        "-- server above and stops at its first failure: every later batch is compiled, not run (SET NOEXEC "
        "ON).\n");
    QStringList left;
    for (const Backup& b : backups) {
        if (b.filesLeft)
            left << oneLine(b.database);
    }
    if (!left.isEmpty())
        out +=
            QStringLiteral(
                "-- 以下数据库删除时处于脱机状态, 其文件留在服务器上, 因此以 WITH REPLACE 还原覆盖这些文件:\n"
                "-- (dropped while OFFLINE, their files were left on the server: restored WITH REPLACE) %1\n")
                .arg(left.join(QStringLiteral(", ")));
    // What each table held when read, for a restore to tell the account set's own rows from new ones.
    for (const Rows& t : tables)
        out += QStringLiteral("-- 记录 (rows): %1 %2 (checksum %3)\n")
                   .arg(oneLine(t.name))
                   .arg(t.values.size())
                   .arg(checksumText(t.checksum));
    return out;
}

// The first batch: on any other server, nothing of the script runs.
QString serverGuard(const Header& h) {
    return QStringLiteral("IF ISNULL(@@SERVERNAME, N'') <> %1\nBEGIN\n    %2\nEND\nGO\n")
        .arg(text(h.serverName),
             stopStatement(QStringLiteral("此脚本只能在服务器 %1 上运行, 未做任何更改 "
                                          "(this script belongs to another server; nothing was changed)")
                               .arg(oneLine(h.serverName))));
}

// TRY...CATCH catches the errors of RESTORE and INSERT at this level; SET NOEXEC ON lasts for the
// session, so that sqlcmd, tsql and query windows, which all go on with the next batch after an
// error, compile the rest without running it:
// https://learn.microsoft.com/en-us/sql/t-sql/language-elements/try-catch-transact-sql
// https://learn.microsoft.com/en-us/sql/t-sql/statements/set-noexec-transact-sql
QString restoreBatch(const Backup& b) {
    const QString db = text(b.database);
    return QStringLiteral(
               "BEGIN TRY\n"
               "    IF DB_ID(%1) IS NULL\n"
               "    BEGIN\n"
               "        RESTORE DATABASE %2 FROM DISK = %3 WITH %4RECOVERY;\n"
               "        PRINT %5;\n"
               "    END\n"
               "    ELSE\n"
               "        PRINT %6;\n"
               "END TRY\n"
               "BEGIN CATCH\n"
               "    PRINT %7 + CONVERT(nvarchar(12), ERROR_NUMBER()) + N' ' + ERROR_MESSAGE();\n"
               "    %8\n"
               "END CATCH\n"
               "GO\n")
        .arg(db, SqlText::bracketed(b.database), text(b.file),
             b.filesLeft ? QStringLiteral("REPLACE, ") : QString(),
             text(QStringLiteral("已还原数据库 %1 (restored)").arg(b.database)),
             text(QStringLiteral("数据库 %1 已存在, 未还原 (already there, not restored)").arg(b.database)),
             text(QStringLiteral("还原数据库 %1 失败 (restore failed): ").arg(b.database)),
             stopStatement(
                 QStringLiteral("撤销脚本已在此停止, 其后的批处理都不会执行 (the script stopped here)")));
}

// The catalogue rows in one transaction, only when none of the account set's rows is there: after a
// purge that was rolled back, or a second run, they would be there twice.
QString catalogueBatch(const Header& h, const QList<Rows>& tables) {
    QStringList present;
    QStringList counts;
    QString inserts;
    for (const Rows& t : tables) {
        for (const QString& statement : insertStatements(h, t))
            inserts += QStringLiteral("    ") + statement + QLatin1Char('\n');
        if (!t.condition.isEmpty())
            present
                << QStringLiteral("EXISTS (SELECT * FROM %1 WHERE %2)").arg(target(h, t.name), t.condition);
        counts << QStringLiteral("%1 %2").arg(t.name).arg(t.values.size());
    }
    const QString still =
        QStringLiteral(
            "帐套%1仍在系统库中, 系统库的记录未恢复 (still in the catalogue: its rows were left alone)")
            .arg(h.accountNo);
    const QString done =
        QStringLiteral("已恢复系统库中帐套%1的记录 (catalogue rows restored): ").arg(h.accountNo) +
        counts.join(QStringLiteral(", "));
    QString body =
        QStringLiteral(
            "BEGIN TRY\n"
            "    BEGIN TRANSACTION;\n"
            "%1"
            "    COMMIT TRANSACTION;\n"
            "    PRINT %2;\n"
            "END TRY\n"
            "BEGIN CATCH\n"
            "    IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;\n"
            "    PRINT %3 + CONVERT(nvarchar(12), ERROR_NUMBER()) + N' ' + ERROR_MESSAGE();\n"
            "    %4\n"
            "END CATCH\n")
            .arg(inserts, text(done),
                 text(QStringLiteral("恢复系统库记录失败, 已全部撤销 (catalogue rows not restored): ")),
                 stopStatement(QStringLiteral("撤销脚本已在此停止 (the script stopped here)")));
    if (present.isEmpty())
        return body + QStringLiteral("GO\n");
    return QStringLiteral("IF %1\n    PRINT %2;\nELSE\nBEGIN\n%3END\nGO\n")
        .arg(present.join(QStringLiteral("\n    OR ")), text(still), body);
}

}  // namespace

QString literal(const QVariant& value, const QString& typeName) {
    if (!value.isValid() || value.isNull())
        return QStringLiteral("NULL");
    const QString type = typeName.toLower();
    if (kText.contains(type))
        return text(value.toString());
    if (kInteger.contains(type))
        return number(value, R"(-?\d+)");
    if (type == QLatin1String("bit"))
        return value.typeId() == QMetaType::Bool ? QString(value.toBool() ? "1" : "0")
                                                 : number(value, "[01]");
    if (kExact.contains(type))
        return exact(value);
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

QString text(const QString& value) {
    QStringList parts;
    QString run;
    const auto flush = [&] {
        if (!run.isEmpty())
            parts << QStringLiteral("N'") + run + QLatin1Char('\'');
        run.clear();
    };
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (isControl(c.unicode()) || isLoneSurrogate(value, i)) {
            flush();
            parts << QStringLiteral("NCHAR(%1)").arg(c.unicode());
        } else if (c == QLatin1Char('\'')) {
            run += QStringLiteral("''");
        } else {
            run += c;
            // "$(" split in two, so that sqlcmd sees no variable in it.
            if (c == QLatin1Char('$') && i + 1 < value.size() && value[i + 1] == QLatin1Char('('))
                flush();
        }
    }
    flush();
    if (parts.isEmpty())
        return QStringLiteral("N''");
    if (parts.size() > 1 && value.size() > kLongestPlain)
        parts.first() = QStringLiteral("CONVERT(nvarchar(max), %1)").arg(parts.first());
    return parts.join(QStringLiteral(" + "));
}

QString target(const Header& h, const QString& table) {
    return SqlText::bracketed(h.catalogue) + QStringLiteral(".[dbo].") + SqlText::bracketed(table);
}

QString checksumLine(const QString& above) {
    return kChecksumPrefix +
           QString::fromLatin1(QCryptographicHash::hash(above.toUtf8(), QCryptographicHash::Sha256).toHex()) +
           QLatin1Char('\n');
}

bool render(const QList<Table>& tables, QList<Rows>* out, QString* error) {
    for (const Table& table : tables) {
        Rows r{table.name, {}, false, {}, table.condition, table.checksum};
        QList<qsizetype> kept;
        for (qsizetype c = 0; c < table.columns.size(); ++c) {
            const Column& col = table.columns[c];
            if (col.generated)
                continue;
            if (!writableName(col.name)) {
                *error = QStringLiteral("%1 的列名无法写成脚本").arg(table.name);
                return false;
            }
            r.columns << SqlText::bracketed(col.name);
            kept << c;
            r.identity = r.identity || col.identity;
        }
        for (qsizetype row = 0; row < table.rows.size(); ++row) {
            QStringList values;
            for (qsizetype c : kept) {
                const QVariant v = c < table.rows[row].size() ? table.rows[row][c] : QVariant();
                const QString lit = literal(v, table.columns[c].type);
                if (lit.isEmpty()) {
                    *error = QStringLiteral("%1.%2 (%3) 第%4行的值无法写成脚本")
                                 .arg(table.name, table.columns[c].name, table.columns[c].type)
                                 .arg(row + 1);
                    return false;
                }
                values << lit;
            }
            r.values << values;
        }
        out->append(r);
    }
    return true;
}

QStringList insertStatements(const Header& h, const Rows& table) {
    QStringList out;
    const QString into = target(h, table.name);
    if (table.identity)
        out << QStringLiteral("SET IDENTITY_INSERT %1 ON;").arg(into);
    for (const QStringList& values : table.values)
        out << QStringLiteral("INSERT INTO %1 (%2) VALUES (%3);")
                   .arg(into, table.columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
    if (table.identity)
        out << QStringLiteral("SET IDENTITY_INSERT %1 OFF;").arg(into);
    return out;
}

QString compose(const Header& header, const QList<Backup>& backups, const QList<Rows>& tables) {
    QString out = headerLines(header, backups, tables);
    out += QStringLiteral("SET NOCOUNT ON;\nGO\n");
    out += serverGuard(header);
    for (const Backup& b : backups)
        out += restoreBatch(b);
    out += catalogueBatch(header, tables);
    return out + checksumLine(out);
}

bool write(const Header& header, const QList<Backup>& backups, const QList<Table>& tables, QString* script,
           QString* error) {
    QList<Rows> rendered;
    if (!render(tables, &rendered, error))
        return false;
    *script = compose(header, backups, rendered);
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
