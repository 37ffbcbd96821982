#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// The year list of the year box, "2002;2003": written by the account picker from the server's
// rows, read back by the deletion. Both directions live here so they cannot drift apart.
class YearList {
public:
    YearList() = default;

    // The picker's rows, largest year first, become the ascending list; a Null year names no
    // database and is left out.
    static YearList fromLargestFirst(const QList<QVariant>& years);
    // The box's text, already trimmed. One trailing ";" is tolerated; every other piece between
    // separators is an entry as it stands, empty ones included.
    static YearList fromText(const QString& trimmedText);

    // As the box shows it (without the tolerated trailing ";"); the success message quotes it.
    QString text() const { return text_; }
    // Each entry once, in order; none when no entry names a year (the box held only ";").
    QStringList entries() const;

private:
    explicit YearList(QString text) : text_(std::move(text)) {}
    QString text_;
};
