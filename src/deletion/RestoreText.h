#pragma once

#include <QString>
#include <QStringList>

// Every text the operator reads during a restore from an undo script.
namespace deletion::text {

QString restoreNow();  // the failure box's second button
QString scriptUnreadable(const QString& path, const QString& why);
QString restoreQueryFailed();
QString otherServer(const QString& scriptServer, const QString& here);
QString catalogueTableMissing(const QString& table);
// The account set's rows are in the catalogue, and not those the script holds.
QString registeredAgain(const QString& accountNo, const QStringList& lines);
QString rowsNowAndThen(const QString& table, qint64 now, qint64 script);
QString databaseThereAgain(const QString& database, const QString& created, const QString& backedUpCreated);
QString databaseRestoring(const QString& database);
QString backupUnreadable(const QString& database, const QString& file);
QString backupOfAnother(const QString& file, const QString& holds, const QString& database);
QString nothingToRestore(const QString& accountNo);

// The question, with what the restore will bring back, so that it reads without the details.
QString confirmRestore(const QString& accountNo, const QStringList& databases, qsizetype rows);
QStringList restoreHeading(const QString& server, const QString& serverName, const QString& accountNo,
                           const QStringList& years, const QString& made, const QString& script);
QString restoreBackupsHeading();
QString restoreBackupLine(const QString& database, const QString& file);
QString restoreBackupInfo(const QString& finished, qint64 bytes);
QString restoreFileLine(const QString& logical, const QString& physical, qint64 bytes);
QString databaseKept(const QString& database);
QString restoreRowsHeading(bool insert);
QString restoreRowsLine(const QString& table, qsizetype rows);

QString restoreWindowTitle();
QString restoring(const QString& database);
QString restored(const QString& database);

QString restoreSucceeded(const QString& accountNo, const QStringList& databases, qsizetype rows,
                         bool rowsWereThere);
QString restoreCancelled(const QString& accountNo);
QString restoreFailed(const QString& accountNo);
QString restoredSoFar(const QStringList& databases);
QString halfRestoredDropped(const QStringList& databases);
QString halfRestoredLeft(const QStringList& databases);
QString rowsNotRestored();
QString verifyMissing(const QStringList& lines);
QString missingRows(const QString& table, qint64 now, qint64 expected);
QString missingDatabase(const QString& database, const QString& state);

}  // namespace deletion::text
