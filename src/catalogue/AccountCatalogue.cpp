#include "catalogue/AccountCatalogue.h"

#include "catalogue/YearList.h"
#include "sql/SqlText.h"

namespace AccountCatalogue {

namespace {
QString textOf(const QVariant& v) {
    return v.isValid() && !v.isNull() ? v.toString() : QString();
}
}  // namespace

QString trimSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

QString boxValue(const QString& text) {
    return trimSpaces(text.normalized(QString::NormalizationForm_KC));
}

QString accountListStatement() {
    return QStringLiteral("select cacc_id,cacc_name from ua_account");
}

QString yearsStatement(const QString& accNo) {
    return QStringLiteral(
               "select distinct(iyear) from tqsystem.dbo.ua_period where iyear<>'9999' and cacc_id=") +
           SqlText::quoted(accNo) + QStringLiteral(" order by iyear desc");
}

QString lookupStatement(const QString& accNo) {
    return QStringLiteral("select * from ua_account where cacc_id=") + SqlText::quoted(accNo);
}

QString itemText(const QVariant& id, const QVariant& name) {
    const QString number = textOf(id);
    const QString title = textOf(name);
    // One allocation per item: the list may hold tens of thousands.
    QString item;
    item.reserve(number.size() + title.size() + 2);
    item.append(number).append(QLatin1Char('(')).append(title).append(QLatin1Char(')'));
    return item;
}

QString numberOfItem(const QString& item) {
    return item.section(QLatin1Char('('), 0, 0);
}

Fetched<QStringList> readAccountItems(SqlClient& cnn) {
    const SqlResult r = cnn.query(accountListStatement());
    if (!r.ok())
        return {{}, r.error};
    QStringList items;
    items.reserve(r.rowCount());
    for (qsizetype i = 0; i < r.rowCount(); ++i)
        items << itemText(r.value(i, QStringLiteral("cacc_id")), r.value(i, QStringLiteral("cacc_name")));
    return {items, {}};
}

Fetched<QString> readYearList(SqlClient& cnn, const QString& accNo) {
    const SqlResult r = cnn.query(yearsStatement(accNo));
    if (!r.ok())
        return {{}, r.error};
    // The one column is read by position: a server may name distinct(iyear) differently.
    QList<QVariant> years;
    for (const QVariantList& row : r.rows)
        years << (row.isEmpty() ? QVariant() : row.first());
    return {YearList::fromLargestFirst(years).text(), {}};
}

Fetched<qsizetype> countAccounts(SqlClient& cnn, const QString& accNo) {
    const SqlResult r = cnn.query(lookupStatement(accNo));
    if (!r.ok())
        return {0, r.error};
    return {r.rowCount(), {}};
}

}  // namespace AccountCatalogue
