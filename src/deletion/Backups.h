#pragma once

#include <memory>

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "deletion/DeletionHost.h"
#include "deletion/NamedBatch.h"
#include "deletion/UndoScript.h"
#include "sql/SqlClient.h"

namespace deletion {

// dir + separator + db_yyyyMMdd_HHmmss.bak, with the separator the folder itself uses.
QString backupFile(const QString& directory, const QString& databaseName, const QDateTime& at);

// A long statement (BACKUP, RESTORE) on sql, shown in view: its percent_complete read on watcher
// (when there is one) from the session sessionId, and the view's 取消 passed on as an attention.
SqlError runWatched(SqlClient& sql, BackupView* view, SqlClient* watcher, int sessionId,
                    const QString& statement, qsizetype index, const QString& what);

// The backups before the first drop: what the confirmations say about them, and the backups and
// their verification themselves.
class Backups {
public:
    Backups(SqlClient& sql, DeletionHost& host) : sql_(sql), host_(host) {}

    // Added to the first confirmation's batch for the listed databases.
    void addPreview(NamedBatch& batch, const QStringList& databases);
    void noteSize(const QString& database, const SqlResult& pages);
    // Reads the answers to addPreview()'s queries; the lines for the details.
    QStringList readPreview(const NamedBatch& batch);

    // The second confirmation, with the check box that chooses the backups.
    bool confirm(const QString& text);

    // Backs up and verifies every database when chosen; false, after a notice, when any step
    // failed or the operator cancelled.
    bool run(const QStringList& databases);

    const QList<undo::Backup>& made() const { return made_; }
    bool chosen() const { return chosen_; }  // the operator ticked the backups

private:
    struct Step {
        qsizetype index;
        QString what;
    };
    SqlError watched(const QString& statement, const Step& step);
    bool stop(const QString& text, const QString& why);

    SqlClient& sql_;
    DeletionHost& host_;
    QStringList databases_;
    QMap<QString, QString> sizes_;
    QString directory_;
    int sessionId_ = 0;
    bool chosen_ = false;
    QList<undo::Backup> made_;
    BackupView* view_ = nullptr;
    std::unique_ptr<SqlClient> watcher_;
};

}  // namespace deletion
