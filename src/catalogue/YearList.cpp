#include "catalogue/YearList.h"

YearList YearList::fromLargestFirst(const QList<QVariant>& years) {
    QStringList ascending;
    for (const QVariant& y : years) {
        if (y.isValid() && !y.isNull())
            ascending.prepend(y.toString());
    }
    return YearList(ascending.join(QLatin1Char(';')));
}

YearList YearList::fromText(const QString& trimmedText) {
    return YearList(trimmedText.endsWith(QLatin1Char(';')) ? trimmedText.chopped(1) : trimmedText);
}

QStringList YearList::entries() const {
    if (text_.isEmpty())
        return {};
    QStringList out;
    bool anyYear = false;
    for (const QString& entry : text_.split(QLatin1Char(';'))) {
        anyYear = anyYear || !entry.isEmpty();
        // A year named twice would be dropped twice; the second drop could only fail.
        if (!out.contains(entry))
            out << entry;
    }
    return anyYear ? out : QStringList{};
}
