#pragma once
// How the programs an undo script names cut it into batches; no server needed, so the script
// writer's own tests use it too.

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace hostile {

// The batches as sqlcmd cuts them: a line of GO alone ends one; a line that is one of its commands
// (":" commands, "!!", ed, reset, exit, quit) or holds "$(" would be acted on, and a line tsql takes
// for its own (exit, quit, bye, reset, version, :r) too: either gives an empty list, with the line
// in *why.
inline QStringList sqlcmdBatches(const QString& script, QString* why) {
    static const QRegularExpression go(R"(^\s*go(\s+\d+)?\s*$)", QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression command(R"(^\s*(:|!!|(ed|reset|exit|quit|bye|version)\b))",
                                            QRegularExpression::CaseInsensitiveOption);
    QStringList batches{QString()};
    for (const QString& line : script.split('\n')) {
        if (line.contains(QStringLiteral("$(")) || command.match(line).hasMatch() || line.contains('\r')) {
            *why = line;
            return {};
        }
        if (go.match(line).hasMatch())
            batches << QString();
        else
            batches.last() += line + '\n';
    }
    if (batches.last().trimmed().isEmpty())
        batches.removeLast();
    return batches;
}

}  // namespace hostile
