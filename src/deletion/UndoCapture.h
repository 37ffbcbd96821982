#pragma once

#include <QString>
#include <QStringList>

#include "deletion/NamedBatch.h"
#include "deletion/UndoScript.h"
#include "sql/SqlClient.h"

namespace deletion {

// Where undo scripts go: $ACCTSET_UNDO_DIR when set, else acctset-remover in the operator's
// Documents folder.
QString undoFolder();

// What the script holds of one table, for the purge to compare with what it deletes.
struct SavedRows {
    QString table;
    qsizetype count = 0;
    QVariant checksum;  // CHECKSUM_AGG(BINARY_CHECKSUM(*)) read just before the rows; Null for none
};

// The catalogue rows a purge will delete, read with their columns' types before anything changes,
// and written as an undo script.
struct UndoCapture {
    QString server;
    QString accountNo;
    QStringList years;
    QList<undo::Backup> backups;

    // Reads the rows of the tables that exist (in purge order) with their column types in one
    // batch, and saves the script. false, with the reason, when the script was not saved complete.
    // *saved, when given, gets what the script holds of each table.
    bool save(SqlClient& sql, const QStringList& tables, QString* path, QString* error,
              QList<SavedRows>* saved = nullptr) const;

    // The queries of that batch.
    void addQueries(NamedBatch& batch, const QStringList& tables) const;
    // The tables with their columns and rows, from that batch's results; false on a gap.
    bool tablesFrom(const QStringList& tables, const NamedBatch& batch, QList<undo::Table>* out,
                    QString* error, QList<SavedRows>* saved = nullptr) const;
};

}  // namespace deletion
