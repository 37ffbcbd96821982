#include "MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

namespace {
struct TestState {
    bool on = false;
    QList<MessageBox::Answer> answers;
    QList<MessageBox::Shown> shown;
};
TestState& testState() {
    static TestState s;
    return s;
}
}  // namespace

QString MessageBox::appTitle() { return QStringLiteral("帐套删除工具"); }

void MessageBox::notice(QWidget* parent, const QString& text, const QString& details) {
    show(parent, Notice, text, details);
}

MessageBox::Answer MessageBox::confirm(QWidget* parent, const QString& text, const QString& details) {
    return show(parent, Confirmation, text, details);
}

void MessageBox::setTestMode(bool on) {
    testState() = TestState{};
    testState().on = on;
}

void MessageBox::queueAnswers(const QList<Answer>& answers) { testState().answers += answers; }

QList<MessageBox::Shown> MessageBox::takeShown() { return std::exchange(testState().shown, {}); }

MessageBox::Answer MessageBox::show(QWidget* parent, Kind kind, const QString& text, const QString& details) {
    auto& ts = testState();
    if (ts.on) {
        ts.shown.append({kind, text, details});
        if (kind == Notice)
            return Ok;
        return ts.answers.isEmpty() ? Ok : ts.answers.takeFirst();
    }

    QMessageBox box(parent);
    box.setWindowTitle(appTitle());
    box.setIcon(QMessageBox::NoIcon);
    box.setText(text);
    if (!details.isEmpty())
        box.setDetailedText(details);
    QPushButton* ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if (kind == Confirmation) {
        cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    box.exec();
    return box.clickedButton() == ok ? Ok : Cancel;
}
