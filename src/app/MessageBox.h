#pragma once

#include <functional>
#include <memory>

#include <QList>
#include <QString>

class QMessageBox;
class QWidget;

// Every message of the tool goes through here: a notice (OK, sometimes with one more action) or a
// confirmation (OK / Cancel).
// Modal, without an icon, under the application title; details, when given, are shown on demand.
// Tests preset the answers and read back what was shown, so no modal loop runs under test.
class MessageBox {
public:
    enum Answer { Ok, Cancel, Action };
    // Caution: a confirmation whose default button is 取消, for a step the operator should not
    // take by pressing Enter.
    enum Kind { Notice, Confirmation, Caution };

    struct Shown {
        Kind kind;
        QString text;
        QString details;
        QString checkText;     // a confirmation's check box, when it has one
        bool checked = false;  // the state the box was left in
        QString actionText;    // a notice's extra button, when it has one
    };

    static QString appTitle();

    static void notice(QWidget* parent, const QString& text, const QString& details = {});
    // A notice with a second button captioned action: Action when that was pressed, else Ok (确定
    // is the default, and Esc and the close box answer it).
    static Answer noticeWithAction(QWidget* parent, const QString& text, const QString& details,
                                   const QString& action);
    static Answer confirm(QWidget* parent, const QString& text, const QString& details = {});
    static Answer caution(QWidget* parent, const QString& text, const QString& details = {});
    // A confirmation with a check box under the text; *checked is its first state and receives the
    // state the operator left it in.
    static Answer confirmWithCheck(QWidget* parent, const QString& text, const QString& details,
                                   const QString& checkText, bool* checked);

    // Test seam: while enabled no box is shown; confirmations and notices with an action take the
    // queued answers in order (once the queue is empty, the default: Ok, Cancel for a caution) and
    // every box is recorded.
    static void setTestMode(bool on);
    // In test mode, also put each box up modal for one pass of the event loop, so that it blocks
    // the other windows as a shown box does.
    static void setTestModal(bool on);
    static void queueAnswers(const QList<Answer>& answers);
    // The states the operator leaves check boxes in, in order; untouched once the queue is empty.
    static void queueChecks(const QList<bool>& states);
    static QList<Shown> takeShown();
    // Runs as each box is recorded, before it is answered: what happens on the server while the
    // operator reads it.
    static void setOnShown(std::function<void(const Shown&)> onShown);

    // The box as it would be shown, not yet shown, and the answer a closed box gives; open for
    // tests of the box itself (buttons, Esc, details). A notice's action adds its button.
    static std::unique_ptr<QMessageBox> build(QWidget* parent, Kind kind, const QString& text,
                                              const QString& details, const QString& action = {});
    static Answer answerOf(const QMessageBox& box);

private:
    // Every box, with a check box when checked is given, and a notice's action button.
    static Answer show(QWidget* parent, Kind kind, const QString& text, const QString& details,
                       const QString& checkText = {}, bool* checked = nullptr, const QString& action = {});
};
