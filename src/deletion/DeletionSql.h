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
// Who may hold a lock a statement gave up waiting for, for one batch; each query gives spid,
// login_name, host_name, program_name.
struct LockHolders {
    QString openTransactions;  // the other sessions with an open transaction
    QString locking;           // those holding a lock on a catalogue table of the current database
};
LockHolders lockHolders();
// "10.50.1600.1" and the like; the major version decides which columns sys.databases has.
QString serverVersion();
// The hazards of the listed databases, for one batch.
struct DatabaseHazards {
    // Their rows of sys.databases: name, state_desc, user_access_desc, is_published,
    // is_subscribed, is_merge_published, and replica_id when asked for.
    QString databases;
    QString snapshots;  // the snapshots of any of them: name, source
    QString mirroring;  // the mirrored ones: name, mirroring_role_desc
};
DatabaseHazards databaseHazards(const QStringList& databaseNames, bool availabilityGroups);
// Which of these databases the server still lists (column "name").
QString databasesListed(const QStringList& databaseNames);
QString databaseSize(const QString& databaseName);  // 8 KB pages
// The files of these databases as the server keeps them (columns dbname, physical_name), read
// before an OFFLINE one is dropped: DROP DATABASE leaves its files on disk.
QString databaseFiles(const QStringList& databaseNames);
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
    QString rows;       // the matching rows, for the undo script
    QString condition;  // the account set's rows of the table, as the statements above find them
};
// The ten catalogue deletes in the order they must run: the integration log first, the
// registration row last.
QList<PurgeStatement> purgeStatements(const QString& accountNo);
// The ten tables, in purge order.
QStringList purgeTables();
// UA_account, the account set's registration, deleted last.
bool isRegistrationTable(const QString& table);
// Which of the ten tables this installation has (column "name").
QString existingTables();

// A table's columns in order: name, type, identity, computed; for the undo script.
QString tableColumns(const QString& table);

// The backups before the first drop.
// The instance's default backup folder where the server names it (2019 and later), else Null.
QString defaultBackupDirectory();
// The same folder from the instance's registry key, for older servers; columns Value, Data.
QString registryBackupDirectory();
QString lastFullBackup(const QString& databaseName);  // one value: the finish date, or Null
QString sessionId();
QString backupDatabase(const QString& databaseName, const QString& file);
QString verifyBackup(const QString& file);
QString percentComplete(int sessionId);

// The rows of a table the purge would delete, as a count and a checksum of their values (one row:
// count, Null checksum when there are none); read with the undo script's rows.
QString savedRowsSummary(const PurgeStatement& p);
// Inside the purge's transaction, before its delete: the table's rows of the account set, locked
// until the transaction ends, must be those the undo script holds (count and checksum); if not, the
// batch stops with error kChangedSinceSaved naming the table.
QString savedRowsGuard(const PurgeStatement& p, qsizetype count, const QVariant& checksum);
inline constexpr int kChangedSinceSaved = 50000;
// A listed database claimed for this session right before the drops: fails at once (5061) while
// anyone else is in it. Its release gives the database back to everyone.
QString claimDatabase(const QString& databaseName);
QString releaseDatabase(const QString& databaseName);

// The restore from an undo script.
QString backupHeader(const QString& file);    // RESTORE HEADERONLY
QString backupFileList(const QString& file);  // RESTORE FILELISTONLY
QString restoreDatabase(const QString& databaseName, const QString& file, bool replace);
// The listed databases as they are now: name, state_desc, create_date, family_guid.
QString restoreTargets(const QStringList& databaseNames);
// Before the inserts, inside their transaction: stops the batch with kRowsThereAgain, naming the
// table, when any of the account set's rows is in it.
QString noRowsGuard(const PurgeStatement& p);
inline constexpr int kRowsThereAgain = 50000;

QString setXactAbort();
QString beginTransaction();
QString commitTransaction();
QString rollbackTransaction();

}  // namespace DeletionSql
