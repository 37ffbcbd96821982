#pragma once

#include <QString>
#include <QStringList>

#include "deletion/DeletionHost.h"

namespace deletion {

// A restore from an undo script, from the window's menu or from a failed deletion's box.
struct RestoreRequest {
    QString script;    // the undo script's path
    QStringList only;  // when given, just these of its databases: those a failed deletion dropped
};

enum class RestoreOutcome {
    Stopped,   // refused, declined or cancelled before anything changed on the server
    Restored,  // every database and catalogue row of the script is back
    Failed,    // something changed, and something of the script is not back
};

// From reading the script to the outcome message; the window refreshes its list afterwards.
RestoreOutcome restore(const RestoreRequest& request, DeletionHost& host);

}  // namespace deletion
