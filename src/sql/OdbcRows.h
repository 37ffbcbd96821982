#pragma once

#include <QList>
#include <QVariant>

class QSqlError;
class QSqlQuery;

// Reads every row of the query's current result set, in the server's order, a Null as an invalid
// QVariant, straight from the driver: a result of bounded text columns (the account list) in blocks
// of rows, any other value by value with its whole text and exact digits. QtSql asks for one value
// at a time, which costs more than the server's work for a list of thousands, and loses text longer
// than its declared size in the client's character set. False with the driver's error when a fetch
// failed.
bool readOdbcRows(QSqlQuery& q, QList<QVariantList>* rows, QSqlError* error);
