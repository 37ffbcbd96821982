#pragma once

#include <QString>
#include <QStringList>

#include "catalogue/SqlClient.h"

namespace deletion {

// What the deletion needs from the window. The run never touches a widget itself, so it can be
// driven without one.
class DeletionHost {
public:
    virtual ~DeletionHost() = default;

    virtual SqlClient& client() = 0;
    virtual void checkAccountNumber() = 0;  // the number box's own check, run first
    virtual QString accountNumberText() = 0;
    virtual bool deleteDatabasesTicked() = 0;
    virtual QString yearText() = 0;

    virtual void notice(const QString& text, const QString& details = {}) = 0;
    virtual bool confirm(const QString& text, const QString& details = {}) = 0;  // true on OK

    virtual void showWait() = 0;
    virtual void closeWait() = 0;
    virtual void yield() = 0;  // let windows repaint; takes no input
    virtual void reset() = 0;  // reconnect, refresh the list, clear the request
};

// The messages of a deletion.
namespace text {
QString enterAccountNumber();
QString accountMissing(const QString& accountNo);
QString confirmAccount(const QString& accountNo);
QString confirmDatabases(const QString& accountNo);
QString cancelled();
QString enterYears();
QString databaseMissing(const QString& accountNo, const QString& year);
QString queryFailed();
QString successEmpty(const QString& accountNo);
QString successWithYears(const QString& accountNo, const QString& years);
QString failure();
}  // namespace text

enum class Outcome {
    Stopped,       // the request stopped before anything changed on the server
    Succeeded,     // the account set is gone (and every listed database)
    PartlyFailed,  // the account set is gone, but a database could not be dropped
    Failed,        // the purge was rolled back or the account set is still registered
};

// One press of the delete button, from the checks to the reset.
Outcome run(DeletionHost& host);

}  // namespace deletion
