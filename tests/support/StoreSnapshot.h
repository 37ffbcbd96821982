#pragma once
// What a test compares before and after a deletion and its way back: every catalogue row and every
// database as the sandbox's store holds them.
#include <QList>
#include <QString>
#include <QStringList>

#include "sandbox/Sandbox.h"

namespace snapshot {

inline const QStringList kCatalogue{"ua_account",     "ua_period", "UA_holdauth",    "UA_log",
                                    "Ua_Identity",    "Ua_auth",   "UA_BackupPlans", "UA_BackupLog",
                                    "UA_account_sub", "EAILog"};

inline QStringList raw(sandbox::Engine& engine, const QString& sql) {
    QStringList out;
    for (const std::string& s : engine.queryRaw(sql.toStdString()))
        out << QString::fromStdString(s);
    return out;
}

// Every row of every catalogue table, every column quoted, in a fixed order.
inline QStringList everyRow(sandbox::Engine& engine) {
    QStringList out;
    for (const QString& t : kCatalogue) {
        QStringList quoted;
        for (const QString& c : raw(engine, "SELECT name FROM pragma_table_info('" + t + "')"))
            quoted << "quote(" + c + ")";
        out << t + ":\n" +
                   raw(engine, "SELECT " + quoted.join("||'|'||") + " FROM " + t + " ORDER BY 1").join('\n');
    }
    return out;
}

// Each database with its state and files, as the server lists them (its id and creation date are
// the server's to give anew on a restore).
inline QStringList databaseRows(sandbox::Engine& engine) {
    return raw(
        engine,
        "SELECT d.name||'|'||d.status||'|'||d.cmptlevel||'|'||ifnull(d.filename,'')||'|'||d.state||'|'||"
        "f.fileid||'|'||f.name||'|'||f.filename||'|'||f.size FROM sandbox_databases d JOIN "
        "sandbox_files f ON f.dbid = d.dbid ORDER BY 1");
}

}  // namespace snapshot
