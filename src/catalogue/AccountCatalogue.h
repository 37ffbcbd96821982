#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include "sql/SqlClient.h"

// The account sets registered in TqSystem: the statements that read them, the item text of the
// account list and the year list. Values go into statements as escaped literals.
namespace AccountCatalogue {

// Every value read from a box loses its leading and trailing spaces (spaces only, as the operator's
// manual says: a tab or a full-width space is part of the value).
QString trimSpaces(const QString& text);
// A number or year list as typed: full-width digits, letters, ";" and spaces (a Chinese input
// method's defaults) read as their ordinary forms (Unicode NFKC), then trimmed. The server's
// collation is width-insensitive, so '００１' names account set 001 there; every statement and
// message must agree with it.
QString boxValue(const QString& text);

QString accountListStatement();
// The distinct years of an account set other than 9999, largest first.
QString yearsStatement(const QString& accNo);
QString lookupStatement(const QString& accNo);

// "cacc_id(cacc_name)"; a Null value contributes an empty text, nothing is trimmed.
QString itemText(const QVariant& id, const QVariant& name);
// The text before the first "(", or the whole text without one.
QString numberOfItem(const QString& item);
template <typename T>
struct Fetched {
    T value{};
    SqlError error;
    bool ok() const { return !error.isError(); }
};

// One item per account set, in the server's order.
Fetched<QStringList> readAccountItems(SqlClient& cnn);
// The year list of an account set; empty when it has no year.
Fetched<QString> readYearList(SqlClient& cnn, const QString& accNo);
// How many catalogue rows carry this number.
Fetched<qsizetype> countAccounts(SqlClient& cnn, const QString& accNo);

}  // namespace AccountCatalogue
