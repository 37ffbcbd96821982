#include "deletion/DeletionChecks.h"

#include "catalogue/AccountCatalogue.h"
#include "deletion/DeletionText.h"

namespace deletion::checks {

namespace {

QString field(const SqlResult& r, qsizetype row, const QString& column) {
    return AccountCatalogue::trimSpaces(r.value(row, column).toString());
}

bool flag(const SqlResult& r, qsizetype row, const QString& column) {
    return r.value(row, column).toBool();  // bit: true/1; text "1"/"true"; Null: false
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
        reasons << text::databaseStateReason(state);
    const QStringList users = sessionsOf(sessions, db);
    if (field(dbs, row, QStringLiteral("user_access_desc")) == QLatin1String("SINGLE_USER") &&
        !users.isEmpty())
        reasons << text::singleUserTaken(users);
    if (flag(dbs, row, QStringLiteral("is_published")))
        reasons << text::published();
    if (flag(dbs, row, QStringLiteral("is_merge_published")))
        reasons << text::mergePublished();
    if (flag(dbs, row, QStringLiteral("is_subscribed")))
        reasons << text::subscribed();
    if (!field(dbs, row, QStringLiteral("replica_id")).isEmpty())
        reasons << text::inAvailabilityGroup();
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
            h.reasons << text::databaseGone();
        } else {
            h.reasons = catalogueReasons(dbs, row, sessions, db);
            h.raw = rawValues(dbs, row);
            if (field(dbs, row, QStringLiteral("state_desc")) == QLatin1String("OFFLINE"))
                out.offline << db;
        }
        for (qsizetype i = 0; i < snapshots.rowCount(); ++i) {
            if (field(snapshots, i, QStringLiteral("source")).compare(db, Qt::CaseInsensitive) == 0) {
                h.reasons << text::snapshotSource(field(snapshots, i, QStringLiteral("name")));
            }
        }
        if (const qsizetype m = rowOf(mirrored, QStringLiteral("name"), db); m >= 0) {
            h.reasons << text::mirrored(field(mirrored, m, QStringLiteral("mirroring_role_desc")));
        }
        if (!h.reasons.isEmpty())
            out.hazards << h;
    }
    return out;
}

QString sessionLine(const SqlResult& sessions, qsizetype row) {
    return text::session(field(sessions, row, QStringLiteral("spid")),
                         field(sessions, row, QStringLiteral("login_name")),
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
        out << text::sessionUsing(order[k], databases[k]);
    return out;
}

int majorVersion(const SqlResult& version) {
    if (!version.ok() || version.rowCount() != 1 || version.rows[0].isEmpty())
        return 0;
    return version.rows[0].first().toString().section(QLatin1Char('.'), 0, 0).toInt();
}

QString lockHolderLines(const SqlResult& open, const SqlResult& locking) {
    const bool exact = locking.ok() && locking.rowCount() > 0;
    const SqlResult& shown = exact ? locking : open;
    if (!shown.ok())
        return text::lockHoldersUnknown(shown.error.message);
    if (shown.rowCount() == 0)
        return text::lockHolderGone();
    QStringList lines{text::lockHoldersHeading(exact)};
    for (qsizetype i = 0; i < shown.rowCount(); ++i)
        lines << sessionLine(shown, i);
    lines.removeDuplicates();
    return lines.join(QLatin1Char('\n'));
}

}  // namespace deletion::checks
