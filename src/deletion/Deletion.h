#pragma once

#include <QString>

#include "catalogue/YearList.h"
#include "deletion/DeletionHost.h"
#include "deletion/DeletionText.h"

namespace deletion {

// One press of the delete button, as the window showed it at the press.
struct Request {
    QString accountNo;             // the number box, trimmed
    bool deleteDatabases = false;  // 删除数据库 ticked
    YearList years;                // the year box, trimmed
};

enum class Outcome {
    Stopped,       // the request stopped before anything changed on the server
    Succeeded,     // the account set is gone (and every listed database)
    PartlyFailed,  // the account set is gone, but a database could not be dropped
    Failed,        // the purge was rolled back, or something of the account set is still there
};

// From the checks to the outcome message. The window's reset is the caller's, after any outcome
// but Stopped.
Outcome run(const Request& request, DeletionHost& host);

}  // namespace deletion
