#pragma once

#include <QString>

#include "sql/SqlClient.h"

// Reads why a connection could not be opened from the driver's numbers and words, so the operator
// is told something more useful than "could not connect".
namespace ConnectFailure {

// nativeCodes: every number the driver reported, as Qt joins them; words: its text.
// namedInstance: the server was typed as host\instance without a port, so the driver asked the
// SQL Server Browser first. waitedMs: how long the open took to fail.
SqlError::Cause classify(const QString& nativeCodes, const QString& words, bool namedInstance, int waitedMs);

}  // namespace ConnectFailure
