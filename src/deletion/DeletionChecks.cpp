#include "deletion/DeletionChecks.h"

#include "catalogue/AccountCatalogue.h"

namespace deletion::checks {

namespace {

QString field(const SqlResult& r, qsizetype row, const QString& column) {
    return AccountCatalogue::trimSpaces(r.value(row, column).toString());
}

bool flag(const SqlResult& r, qsizetype row, const QString& column) {
    return r.value(row, column).toBool();  // bit: true/1; text "1"/"true"; Null: false
}

// States in which DROP DATABASE fails or would remove a database someone is bringing back:
// https://learn.microsoft.com/sql/relational-databases/databases/database-states
QString stateReason(const QString& state) {
    if (state == QLatin1String("RESTORING"))
        return QStringLiteral("正在还原(RESTORING),删除会中断还原");
    if (state == QLatin1String("RECOVERING"))
        return QStringLiteral("正在恢复(RECOVERING),尚未联机");
    if (state == QLatin1String("RECOVERY_PENDING"))
        return QStringLiteral("恢复挂起(RECOVERY_PENDING),需要管理员处理");
    if (state == QLatin1String("SUSPECT"))
        return QStringLiteral("置疑(SUSPECT),数据库可能已损坏,需要管理员处理");
    if (state == QLatin1String("EMERGENCY"))
        return QStringLiteral("处于紧急模式(EMERGENCY),正由管理员处理");
    return QStringLiteral("状态为%1,不是联机状态").arg(state);
}

qsizetype rowOf(const SqlResult& r, const QString& column, const QString& name) {
    for (qsizetype i = 0; i < r.rowCount(); ++i) {
        if (field(r, i, column).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString rawValues(const SqlResult& r, qsizetype row) {
    QStringList parts;
    for (qsizetype c = 1; c < r.columns.size(); ++c)
        parts << r.columns[c] + QLatin1Char('=') + field(r, row, r.columns[c]);
    return parts.join(QStringLiteral(", "));
}

// The reasons sys.databases gives for one database; the DROP DATABASE page names each:
// https://learn.microsoft.com/sql/t-sql/statements/drop-database-transact-sql
QStringList catalogueReasons(const SqlResult& dbs, qsizetype row, const SqlResult& sessions,
                             const QString& db) {
    QStringList reasons;
    const QString state = field(dbs, row, QStringLiteral("state_desc"));
    if (state != QLatin1String("ONLINE") && state != QLatin1String("OFFLINE"))
        reasons << stateReason(state);
    const QStringList users = sessionsOf(sessions, db);
    if (field(dbs, row, QStringLiteral("user_access_desc")) == QLatin1String("SINGLE_USER") &&
        !users.isEmpty())
        reasons << QStringLiteral("处于单用户模式(SINGLE_USER),已被其他会话占用: ") +
                       users.join(QStringLiteral("; "));
    if (flag(dbs, row, QStringLiteral("is_published")))
        reasons << QStringLiteral("已发布用于复制,须先删除复制(错误 3724)");
    if (flag(dbs, row, QStringLiteral("is_merge_published")))
        reasons << QStringLiteral("已发布用于合并复制,须先删除复制(错误 3724)");
    if (flag(dbs, row, QStringLiteral("is_subscribed")))
        reasons << QStringLiteral("是复制的订阅数据库,须先删除复制");
    if (!field(dbs, row, QStringLiteral("replica_id")).isEmpty())
        reasons << QStringLiteral("属于可用性组,须先将其移出可用性组(错误 3752)");
    return reasons;
}

}  // namespace

DatabaseStates judge(const QStringList& names, const HazardResults& hazards, const SqlResult& sessions) {
    const SqlResult& dbs = hazards.databases;
    const SqlResult& snapshots = hazards.snapshots;
    const SqlResult& mirrored = hazards.mirroring;
    DatabaseStates out;
    for (const QString& db : names) {
        Hazard h{db, {}, {}};
        const qsizetype row = rowOf(dbs, QStringLiteral("name"), db);
        if (row < 0) {
            h.reasons << QStringLiteral("服务器上已找不到该数据库");
        } else {
            h.reasons = catalogueReasons(dbs, row, sessions, db);
            h.raw = rawValues(dbs, row);
            if (field(dbs, row, QStringLiteral("state_desc")) == QLatin1String("OFFLINE"))
                out.offline << db;
        }
        for (qsizetype i = 0; i < snapshots.rowCount(); ++i) {
            if (field(snapshots, i, QStringLiteral("source")).compare(db, Qt::CaseInsensitive) == 0) {
                h.reasons << QStringLiteral("是数据库快照%1的源数据库,须先删除快照(错误 3709)")
                                 .arg(field(snapshots, i, QStringLiteral("name")));
            }
        }
        if (const qsizetype m = rowOf(mirrored, QStringLiteral("name"), db); m >= 0) {
            h.reasons << QStringLiteral("已配置数据库镜像(%1),须先删除镜像(错误 3743)")
                             .arg(field(mirrored, m, QStringLiteral("mirroring_role_desc")));
        }
        if (!h.reasons.isEmpty())
            out.hazards << h;
    }
    return out;
}

QString sessionLine(const SqlResult& sessions, qsizetype row) {
    return QStringLiteral("会话%1(登录名 %2, 主机 %3, 程序 %4)")
        .arg(field(sessions, row, QStringLiteral("spid")), field(sessions, row, QStringLiteral("login_name")),
             field(sessions, row, QStringLiteral("host_name")),
             field(sessions, row, QStringLiteral("program_name")));
}

QStringList sessionsOf(const SqlResult& sessions, const QString& database) {
    QStringList out;
    for (qsizetype i = 0; i < sessions.rowCount(); ++i) {
        if (field(sessions, i, QStringLiteral("dbname")).compare(database, Qt::CaseInsensitive) == 0 &&
            !out.contains(sessionLine(sessions, i)))
            out << sessionLine(sessions, i);
    }
    return out;
}

QStringList sessionsByDatabase(const SqlResult& sessions) {
    QStringList order;
    QList<QStringList> databases;
    for (qsizetype i = 0; i < sessions.rowCount(); ++i) {
        const QString line = sessionLine(sessions, i);
        const QString db = field(sessions, i, QStringLiteral("dbname"));
        qsizetype k = order.indexOf(line);
        if (k < 0) {
            order << line;
            databases.append(QStringList{});
            k = order.size() - 1;
        }
        if (!databases[k].contains(db))
            databases[k] << db;
    }
    QStringList out;
    for (qsizetype k = 0; k < order.size(); ++k)
        out << order[k] + QStringLiteral(" 正在使用数据库") + databases[k].join(QStringLiteral("、"));
    return out;
}

int majorVersion(const SqlResult& version) {
    if (!version.ok() || version.rowCount() != 1 || version.rows[0].isEmpty())
        return 0;
    return version.rows[0].first().toString().section(QLatin1Char('.'), 0, 0).toInt();
}

QString lockHolderLines(const QList<SqlResult>& holders) {
    const SqlResult open = holders.value(0);
    const SqlResult locking = holders.value(1);
    const bool exact = locking.ok() && locking.rowCount() > 0;
    const SqlResult& shown = exact ? locking : open;
    if (!shown.ok())
        return QStringLiteral("无法查明占用锁的会话: ") + shown.error.message;
    if (shown.rowCount() == 0)
        return QStringLiteral("占用锁的会话在查询时已经结束,无法查明是哪个会话。");
    QStringList lines{exact ? QStringLiteral("占用锁的会话:")
                            : QStringLiteral("持有未提交事务的会话(占用锁的会话在其中):")};
    for (qsizetype i = 0; i < shown.rowCount(); ++i)
        lines << sessionLine(shown, i);
    lines.removeDuplicates();
    return lines.join(QLatin1Char('\n'));
}

}  // namespace deletion::checks
