#pragma once
// Catalogue values that try to break an undo script out of its literals, and the line rules of the
// runners the script names, for the tests of the way back.

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "sandbox/Sandbox.h"
#include "support/RunnerBatches.h"

namespace hostile {

// A line break, GO and a DELETE of another account set; sqlcmd variables and commands; tsql's
// commands; quotes and brackets; a character beyond the BMP and a NUL-free control character.
inline QStringList texts() {
    return {QStringLiteral("\r\nGO\r\nDELETE FROM UA_account WHERE iyear=2003\r\nGO\r\n"),
            QStringLiteral("$(PATH)$(UNDEFINED)"), QStringLiteral("\n:!! echo owned\n:r other.sql\nexit\n"),
            QStringLiteral("it's ]] [x] ''"),
            QString::fromUtf16(u"\U0001F600中文\tquit\nbye\nreset\nversion")};
}

// Every text column of every catalogue row of account set n, keys aside, gets one of the texts,
// cut to the column's length.
inline void fill(sandbox::Engine& engine, const QString& n) {
    const QStringList tables{"ua_account", "ua_period",      "UA_holdauth",  "UA_log",         "Ua_Identity",
                             "Ua_auth",    "UA_BackupPlans", "UA_BackupLog", "UA_account_sub", "EAILog"};
    static const QRegularExpression text(R"(^n?(var)?char\((\d+)\)$)",
                                         QRegularExpression::CaseInsensitiveOption);
    qsizetype k = 0;
    for (const QString& t : tables) {
        const QString where = t == QLatin1String("EAILog")
                                  ? "Ea_Account = 'tqdata_" + n + "' or Ea_Account like 'tqdata_" + n + "_%'"
                                  : "cacc_id = '" + n + "'";
        for (const std::string& row : engine.queryRaw("SELECT name || '|' || type FROM pragma_table_info('" +
                                                      t.toStdString() + "')")) {
            const QStringList parts = QString::fromStdString(row).split('|');
            const auto m = text.match(parts[1]);
            if (!m.hasMatch() || parts[0].compare("cacc_id", Qt::CaseInsensitive) == 0 ||
                parts[0].compare("Ea_Account", Qt::CaseInsensitive) == 0)
                continue;
            QString v = texts()[k++ % texts().size()].left(m.captured(2).toInt());
            if (v.back().isHighSurrogate())
                v.chop(1);
            v.replace('\'', "''");
            engine.execRaw(
                ("UPDATE " + t + " SET " + parts[0] + " = '" + v + "' WHERE " + where).toStdString());
        }
    }
}

}  // namespace hostile
