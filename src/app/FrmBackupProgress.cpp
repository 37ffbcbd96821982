#include "app/FrmBackupProgress.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "app/MessageBox.h"

namespace {
QPointer<FrmBackupProgress>& instance() {
    static QPointer<FrmBackupProgress> window;
    return window;
}
}  // namespace

FrmBackupProgress::FrmBackupProgress(QWidget* owner, const QString& title, const QString& preparing,
                                     const QString& cancelling)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint), preparing_(preparing), cancelling_(cancelling) {
    setObjectName(QStringLiteral("FrmBackupProgress"));
    setWindowTitle(MessageBox::appTitle() + title);
}

FrmBackupProgress* FrmBackupProgress::current() {
    return instance();
}

void FrmBackupProgress::start(const QStringList& databases) {
    auto* grid = new QGridLayout(this);
    lblStep = new QLabel(preparing_, this);
    lblStep->setObjectName(QStringLiteral("lblStep"));
    grid->addWidget(lblStep, 0, 0, 1, 2);
    int row = 1;
    for (const QString& db : databases) {
        grid->addWidget(new QLabel(db, this), row, 0);
        auto* bar = new QProgressBar(this);
        bar->setObjectName(QStringLiteral("bar%1").arg(row - 1));
        bar->setRange(0, 100);
        bar->setValue(0);
        grid->addWidget(bar, row++, 1);
        bars << bar;
        percents_ << 0;
    }
    grid->addWidget(new QLabel(QStringLiteral("总进度"), this), row, 0);
    overall = new QProgressBar(this);
    overall->setObjectName(QStringLiteral("overall"));
    overall->setRange(0, 100);
    overall->setValue(0);
    grid->addWidget(overall, row++, 1);
    cmdCancel = new QPushButton(QStringLiteral("取消"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    grid->addWidget(cmdCancel, row, 1, Qt::AlignRight);
    connect(cmdCancel, &QPushButton::clicked, this, &FrmBackupProgress::cancel);
    resize(420, sizeHint().height());
    if (parentWidget())
        move(parentWidget()->geometry().center() - rect().center());
    instance() = this;
    show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void FrmBackupProgress::progress(qsizetype index, int percent, const QString& what) {
    if (index < 0 || index >= bars.size())
        return;
    if (!cancelled_)
        lblStep->setText(what);
    percents_[index] = percent;
    bars[index]->setValue(percent);
    int sum = 0;
    for (int p : percents_)
        sum += p;
    overall->setValue(percents_.isEmpty() ? 0 : sum / int(percents_.size()));
}

void FrmBackupProgress::finish() {
    instance() = nullptr;
    hide();
}

void FrmBackupProgress::cancel() {
    if (cancelled_)
        return;
    cancelled_ = true;
    cmdCancel->setEnabled(false);
    lblStep->setText(cancelling_);
}

// The close box cancels, as 取消 does; the window itself goes when the run says so.
void FrmBackupProgress::closeEvent(QCloseEvent* event) {
    cancel();
    event->ignore();
}
