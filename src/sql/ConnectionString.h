#pragma once

#include <QString>
#include <QStringList>

#include "sql/SqlClient.h"

// The ODBC connection string for the operator's server, password and the fixed login and catalogue,
// in the keywords of whichever SQL Server driver is installed.
namespace ConnectionString {

// Drivers we know how to talk to, best first.
const QStringList& preferredDrivers();

// The best of the installed drivers (names as the driver manager lists them); empty when none fits.
QString chooseDriver(const QStringList& installed);

// A server as SQL Server users type it: host, host\instance or host,port.
struct ServerAddress {
    QString host;
    QString instance;  // empty unless host\instance
    QString port;      // empty unless host,port
};
ServerAddress parseServer(const QString& server);

struct Built {
    QString text;
    SqlError error;  // Kind::Refused when a value cannot be carried by this driver
};

// Every value is braced; the password never appears in an error message.
Built build(const ConnectionSpec& spec, const QString& driver);

}  // namespace ConnectionString
