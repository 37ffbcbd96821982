#include "app/ScriptDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>

#include "app/MessageBox.h"

namespace {
std::function<QString(const QString&)>& testAnswer() {
    static std::function<QString(const QString&)> answer;
    return answer;
}
}  // namespace

void ScriptDialog::setTestAnswer(std::function<QString(const QString&)> answer) {
    testAnswer() = std::move(answer);
}

QString ScriptDialog::choose(QWidget* parent, const QString& folder) {
    if (testAnswer())
        return testAnswer()(folder);
    // Qt's own dialog on every desktop: the native ones give no say over the order, and the script
    // wanted is nearly always the newest.
    QFileDialog dialog(parent, MessageBox::appTitle() + QStringLiteral(" - 选择撤销脚本"),
                       QDir(folder).exists() ? folder : QDir::homePath(),
                       QStringLiteral("撤销脚本 (*.sql);;所有文件 (*)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setViewMode(QFileDialog::Detail);
    if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        view->setSortingEnabled(true);
        view->sortByColumn(3, Qt::DescendingOrder);  // date modified
        // The names say server, account set and time: they must be read whole.
        view->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    }
    const QFileInfoList scripts =
        QDir(folder).entryInfoList({QStringLiteral("*.sql")}, QDir::Files, QDir::Time);
    if (!scripts.isEmpty())
        dialog.selectFile(scripts.first().fileName());
    dialog.resize(760, 440);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
