#pragma once

#include <QList>
#include <QVariant>

class QSqlError;
class QSqlQuery;

// Reads every row of the query's current result set, in the server's order, a Null as an invalid
// QVariant. A result of bounded text columns (the account list) is fetched in blocks of rows
// straight from the driver: QtSql asks the driver for one value at a time, which costs more than
// the server's work for a list of thousands. False with the driver's error when a fetch failed.
bool readOdbcRows(QSqlQuery& q, QList<QVariantList>* rows, QSqlError* error);
