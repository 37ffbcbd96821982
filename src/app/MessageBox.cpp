#include "app/MessageBox.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

namespace {
struct TestState {
    bool on = false;
    bool modal = false;
    QList<MessageBox::Answer> answers;
    QList<bool> checks;
    QList<MessageBox::Shown> shown;
    std::function<void(const MessageBox::Shown&)> onShown;
};
TestState& testState() {
    static TestState s;
    return s;
}

// The details button is the message box's own and relabels itself on every press, so its two
// captions are translated where Qt looks them up.
class DetailsButtonTranslator : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char*, int) const override {
        if (qstrcmp(context, "QMessageBox") != 0)
            return {};
        if (qstrcmp(sourceText, "Show Details...") == 0)
            return QStringLiteral("显示详细信息…");
        if (qstrcmp(sourceText, "Hide Details...") == 0)
            return QStringLiteral("隐藏详细信息…");
        return {};
    }
};

// Drops the input the platform queued while a rule held it back.
class InputDropper final : public QObject {
public:
    InputDropper() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputDropper() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        return event->spontaneous() && (event->isInputEvent() || event->type() == QEvent::InputMethod);
    }
};

// A wait for the server holds the platform's input back, and a close the window manager asked
// for is input to Qt. Once a modal box is up, Qt drops a close for the window it blocks, so the
// close is delivered first; the input queued with it would reach only blocked windows and goes.
void deliverQueuedClose() {
    if (!QCoreApplication::instance())
        return;
    InputDropper dropper;
    // Events held back stay queued until the platform's next wake-up: wake it now.
    QAbstractEventDispatcher::instance()->wakeUp();
    QCoreApplication::processEvents();
}

void installDetailsTranslator() {
    static bool installed = false;
    if (installed || !QCoreApplication::instance())
        return;
    installed = true;
    QCoreApplication::installTranslator(new DetailsButtonTranslator(QCoreApplication::instance()));
}
}  // namespace

QString MessageBox::appTitle() {
    return QStringLiteral("帐套删除工具");
}

void MessageBox::notice(QWidget* parent, const QString& text, const QString& details) {
    show(parent, Notice, text, details);
}

MessageBox::Answer MessageBox::noticeWithAction(QWidget* parent, const QString& text, const QString& details,
                                                const QString& action) {
    return show(parent, Notice, text, details, {}, nullptr, action);
}

MessageBox::Answer MessageBox::confirm(QWidget* parent, const QString& text, const QString& details) {
    return show(parent, Confirmation, text, details);
}

MessageBox::Answer MessageBox::caution(QWidget* parent, const QString& text, const QString& details) {
    return show(parent, Caution, text, details);
}

MessageBox::Answer MessageBox::confirmWithCheck(QWidget* parent, const QString& text, const QString& details,
                                                const QString& checkText, bool* checked) {
    return show(parent, Confirmation, text, details, checkText, checked);
}

void MessageBox::queueChecks(const QList<bool>& states) {
    testState().checks += states;
}

void MessageBox::setTestMode(bool on) {
    testState() = TestState{};
    testState().on = on;
}

void MessageBox::setTestModal(bool on) {
    testState().modal = on;
}

void MessageBox::queueAnswers(const QList<Answer>& answers) {
    testState().answers += answers;
}

void MessageBox::setOnShown(std::function<void(const Shown&)> onShown) {
    testState().onShown = std::move(onShown);
}

QList<MessageBox::Shown> MessageBox::takeShown() {
    return std::exchange(testState().shown, {});
}

std::unique_ptr<QMessageBox> MessageBox::build(QWidget* parent, Kind kind, const QString& text,
                                               const QString& details, const QString& action) {
    installDetailsTranslator();
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(appTitle());
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowModality(Qt::ApplicationModal);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    if (!details.isEmpty())
        box->setDetailedText(details);
    QPushButton* ok = box->addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    QPushButton* byDefault = ok;
    if (kind != Notice) {
        // Esc and the frame's close box answer Cancel.
        QPushButton* cancel = box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        cancel->setObjectName(QStringLiteral("cancel"));
        box->setEscapeButton(cancel);
        if (kind == Caution)
            byDefault = cancel;
    } else {
        if (!action.isEmpty()) {
            QPushButton* extra = box->addButton(action, QMessageBox::ActionRole);
            extra->setObjectName(QStringLiteral("action"));
        }
        box->setEscapeButton(ok);
    }
    box->setDefaultButton(byDefault);
    return box;
}

MessageBox::Answer MessageBox::answerOf(const QMessageBox& box) {
    const auto* clicked = box.clickedButton();
    if (clicked && clicked->objectName() == QLatin1String("action"))
        return Action;
    return clicked && clicked->objectName() == QLatin1String("ok") ? Ok : Cancel;
}

MessageBox::Answer MessageBox::show(QWidget* parent, Kind kind, const QString& text, const QString& details,
                                    const QString& checkText, bool* checked, const QString& action) {
    deliverQueuedClose();
    const auto withCheck = [&](QMessageBox& box) -> QCheckBox* {
        if (!checked)
            return nullptr;
        auto* check = new QCheckBox(checkText);
        check->setObjectName(QStringLiteral("check"));
        check->setChecked(*checked);
        box.setCheckBox(check);
        return check;
    };
    auto& ts = testState();
    if (ts.on) {
        if (checked && !ts.checks.isEmpty())
            *checked = ts.checks.takeFirst();
        ts.shown.append({kind, text, details, checked ? checkText : QString(), checked && *checked, action});
        if (ts.onShown)
            ts.onShown(ts.shown.last());
        if (ts.modal) {
            const auto box = build(parent, kind, text, details, action);
            withCheck(*box);
            box->open();
            QAbstractEventDispatcher::instance()->wakeUp();
            QCoreApplication::processEvents();
            box->close();
        }
        if (kind == Notice) {
            // Only the action answers anything but 确定.
            if (action.isEmpty() || ts.answers.isEmpty())
                return Ok;
            return ts.answers.takeFirst() == Action ? Action : Ok;
        }
        if (ts.answers.isEmpty())
            return kind == Caution ? Cancel : Ok;
        return ts.answers.takeFirst();
    }

    const auto box = build(parent, kind, text, details, action);
    QCheckBox* check = withCheck(*box);
    box->exec();
    if (check)
        *checked = check->isChecked();
    const Answer answer = answerOf(*box);
    return kind == Notice && answer != Action ? Ok : answer;
}
