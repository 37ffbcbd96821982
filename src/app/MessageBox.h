#pragma once

#include <QList>
#include <QString>

class QWidget;

// Every message of the tool goes through here: a notice (OK) or a confirmation (OK / Cancel).
// Tests preset the answers and read back what was shown, so no modal loop runs under test.
class MessageBox {
public:
    enum Answer { Ok, Cancel };
    enum Kind { Notice, Confirmation };

    struct Shown {
        Kind kind;
        QString text;
        QString details;
    };

    static QString appTitle();

    static void notice(QWidget* parent, const QString& text, const QString& details = {});
    static Answer confirm(QWidget* parent, const QString& text, const QString& details = {});

    // Test seam: while enabled no box is shown; confirmations take the queued answers in order
    // (Ok once the queue is empty) and every box is recorded.
    static void setTestMode(bool on);
    static void queueAnswers(const QList<Answer>& answers);
    static QList<Shown> takeShown();

private:
    static Answer show(QWidget* parent, Kind kind, const QString& text, const QString& details);
};
