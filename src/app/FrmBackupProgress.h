#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

#include "deletion/DeletionHost.h"

class QLabel;
class QProgressBar;
class QPushButton;

// The backups before a deletion: a bar per database and one for all, the step under way, and
// 取消, which stops the running backup and the deletion. Top-level and owned by the main window,
// which takes no input meanwhile.
class FrmBackupProgress : public QWidget, public deletion::BackupView {
    Q_OBJECT

public:
    // title follows the application's; preparing shows until the first step.
    explicit FrmBackupProgress(QWidget* owner, const QString& title = QStringLiteral(" - 正在备份年度数据库"),
                               const QString& preparing = QStringLiteral("正在准备备份…"),
                               const QString& cancelling = QStringLiteral("正在取消备份…"));

    void start(const QStringList& databases) override;
    void progress(qsizetype index, int percent, const QString& what) override;
    bool cancelled() const override { return cancelled_; }
    void finish() override;

    // The open window while backups run, else null.
    static FrmBackupProgress* current();

    QLabel* lblStep = nullptr;
    QList<QProgressBar*> bars;
    QProgressBar* overall = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void cancel();

    QString preparing_;
    QString cancelling_;
    QList<int> percents_;
    bool cancelled_ = false;
};
