#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// Statement texts of a deletion. Every value goes in as an escaped literal; for ordinary input
// the texts are exactly the ones the operators' installations have always received.
namespace DeletionSql {

QString databaseName(const QString& accountNo, const QString& year);  // tqdata_N_Y

QString accountLookup(const QString& accountNo);        // stage-1 look-up (cAcc_id)
QString accountVerification(const QString& accountNo);  // after the purge (cacc_id)
QString databaseExists(const QString& databaseName);
QString dropDatabase(const QString& databaseName);
// The other sessions using any of these databases, each once per database: columns spid, dbname,
// login_name, host_name, program_name.
QString databaseSessions(const QStringList& databaseNames);
// One batch: the other sessions with an open transaction, then those holding a lock on a catalogue
// table of the current database; each with spid, login_name, host_name, program_name.
QStringList lockHolders();
// "10.50.1600.1" and the like; the major version decides which columns sys.databases has.
QString serverVersion();
// One batch: the listed databases' rows of sys.databases (name, state_desc, user_access_desc,
// is_published, is_subscribed, is_merge_published, and replica_id when asked for), the snapshots
// of any of them (name, source) and the mirrored ones (name, mirroring_role_desc).
QStringList databaseHazards(const QStringList& databaseNames, bool availabilityGroups);
// Which of these databases the server still lists (column "name").
QString databasesListed(const QStringList& databaseNames);
QString databaseSize(const QString& databaseName);  // 8 KB pages
QString databaseState(const QString& databaseName);

// The integration-log condition: values equal to tqdata_N (trailing blanks aside) or beginning with
// tqdata_N_.
QString eaiLogCondition(const QString& accountNo);
// N with LIKE's wildcard characters turned into one-character classes.
QString likeEscaped(const QString& text);

struct PurgeStatement {
    QString table;      // as the statement writes it
    QString statement;  // the delete
    QString count;      // the matching row count, for the preview
};
// The ten catalogue deletes in the order they must run: the integration log first, the
// registration row last.
QList<PurgeStatement> purgeStatements(const QString& accountNo);
// The ten tables, in purge order.
QStringList purgeTables();
// Which of the ten tables this installation has (column "name").
QString existingTables();

// The rows of a table the purge would delete, as a count and a checksum of their values (one row:
// count, Null checksum when there are none).
QString savedRowsSummary(const PurgeStatement& p);
// Inside the purge's transaction, before its delete: the table's rows of the account set, locked
// until the transaction ends, must be those the undo script holds (count and checksum); if not, the
// batch stops with error 50000 naming the table.
QString savedRowsGuard(const PurgeStatement& p, qsizetype count, const QVariant& checksum);
inline constexpr int kChangedSinceSaved = 50000;
// A listed database claimed for this session right before the drops: fails at once (5061) while
// anyone else is in it. Its release gives the database back to everyone.
QString claimDatabase(const QString& databaseName);
QString releaseDatabase(const QString& databaseName);

QString setXactAbort();
QString beginTransaction();
QString commitTransaction();
QString rollbackTransaction();

}  // namespace DeletionSql
