#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "deletion/UndoScript.h"
#include "sql/SqlClient.h"

// Every text the operator reads during a deletion: the boxes' messages, the lines of their details
// and the progress window's steps.
namespace deletion::text {

// The request and its confirmations.
QString enterAccountNumber();
QString accountMissing(const QString& accountNo);
QString confirmAccount(const QString& accountNo);
QString confirmDatabases(const QString& accountNo);
QString cancelled();
QString enterYears();
QString databaseMissing(const QString& accountNo, const QString& year);
QString queryFailed();
QString databasesInUse(const QStringList& lines);
QString lockWaitStopped(const QString& holders);
QString databasesUnsafe(const QStringList& lines);
// OFFLINE: the first confirmation's warning, and the stop before the backups when they are chosen.
QString offlinePreview(const QStringList& databases);
QString offlineNotBackedUp(const QStringList& databases);
// A listed database could not be claimed for the drops; the sessions then using the databases.
QString claimFailed(const QString& database, const QStringList& sessions);

// The first confirmation's details.
QString previewHeading(const QString& accountNo);
QString previewUnqueried(const QString& why);  // the table list could not be read
QString previewCount(const QString& table, const QString& rows);
QString previewCountUnqueried(const QString& table, const QString& why);
QString previewDatabasesHeading();
QString previewNoYears();
// "    db: 20.0 MB, ONLINE, 无其他连接" from the database's size (8 KB pages), state and the
// sessions of every listed database.
QString previewDatabase(const QString& database, const SqlResult& size, const SqlResult& state,
                        const SqlResult& sessions);
QString megabytes(qint64 pages);  // "20.0 MB"

// A hazard that stops the run: the operator's line and the server's values for the details.
QString hazardLine(const QString& database, const QStringList& reasons);
QString hazardDetails(const QString& database, const QString& raw);

// Why a listed database must not be dropped now.
QString databaseStateReason(const QString& state);  // not ONLINE nor OFFLINE
QString singleUserTaken(const QStringList& sessions);
QString published();
QString mergePublished();
QString subscribed();
QString inAvailabilityGroup();
QString databaseGone();
QString snapshotSource(const QString& snapshot);
QString mirrored(const QString& role);

// Other sessions.
QString session(const QString& spid, const QString& login, const QString& host, const QString& program);
QString sessionUsing(const QString& session, const QStringList& databases);
QString lockHoldersUnknown(const QString& why);
QString lockHolderGone();
QString lockHoldersHeading(bool exact);  // exact: they hold the lock; else they have open transactions

// The backups.
QString backupCheck();  // the check box of the databases' confirmation
QString backupDirectory(const QString& directory);
QString backupSize(const QString& database, const QString& size);
QString sizeUnknown();
QString lastFullBackupHeading();
QString lastFullBackup(const QString& database, const QString& when);
QString neverBackedUp();
QString unqueried(const QString& why);  // "(无法查询: …)"
QString backupDirectoryUnknown();
QString backupCancelled();
QString backupFailed(const QString& database);
QString backingUp(const QString& database);
QString verifying(const QString& database);
QString backedUp(const QString& database);
QStringList backupsKept(const QList<undo::Backup>& made);

// The undo script.
QString undoNotSaved();
QString undoResultsMissing();
QString undoColumnMissing(const QString& table, const QString& column);
QString undoNoColumns(const QString& table);

// The deletions journal: a line that could not be begun stops the run; one that could not be
// completed is said after the outcome.
QString journalNotWritten(const QString& path, const QString& why);
QString journalNotCompleted(const QString& path, const QString& why);

// The outcome.
QString successEmpty(const QString& accountNo);
QString successWithYears(const QString& accountNo, const QString& years);
QString failure();
// Where the way back is, for every message after the first change.
QStringList wayBack(const QString& undoPath, const QList<undo::Backup>& backups);
QString partlyFailed(const QString& accountNo, const QStringList& failed, const QStringList& gone);
QString purgeLockRolledBack(const QString& holders);
QString stillThere(const QStringList& what);
QString droppedForGood(const QStringList& gone);
// Dropped with a verified backup: "db (备份: file)" lines, and where the undo script is.
QString droppedWithBackups(const QStringList& lines, const QString& undoScript);
QString droppedBackupLine(const QString& database, const QString& file);
// The purge found rows that differ from the undo script's and rolled back.
QString changedSinceScript(const QString& accountNo, const QString& table);
QString notDropped(const QStringList& failed);
QString leftoverRows(const QString& table, qint64 rows);
QString leftoverDatabase(const QString& database);
QString reason(const QString& database, const QString& why);
// The databases dropped while OFFLINE, each with the files it left (its name and their paths; no
// paths when they could not be read). Empty when none was.
QString offlineNote(const QList<QPair<QString, QStringList>>& offlineDropped);

}  // namespace deletion::text
