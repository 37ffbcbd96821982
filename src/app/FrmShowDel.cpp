#include "app/FrmShowDel.h"

#include <QFontDatabase>
#include <QIcon>
#include <QLabel>
#include <QPointer>

#include "app/DesignUnits.h"
#include "app/MessageBox.h"
#include "app/Startup.h"
#include "app/WindowPlacement.h"

namespace {
QPointer<FrmShowDel>& instance() {
    static QPointer<FrmShowDel> window;
    return window;
}

constexpr unsigned int kBackground = 0xFFC0C0;  // light blue
}  // namespace

QString FrmShowDel::captionFontFamily() {
    const QStringList installed = QFontDatabase::families();
    for (const char* kai : {"楷体_GB2312", "KaiTi", "AR PL UKai CN"}) {
        const QString family = QString::fromUtf8(kai);
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    }
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? QString() : chinese.first();
}

FrmShowDel::FrmShowDel() : QWidget(nullptr) {
    initResources();
    setObjectName(QStringLiteral("FrmShowDel"));
    setAttribute(Qt::WA_DeleteOnClose);
    // A fixed window with a title and nothing to press: no close, minimise or maximise box. It
    // stays in the task bar so that the operator finds it behind the main window.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(MessageBox::appTitle() + QStringLiteral("......"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/wait-32.xpm"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/wait-16.xpm"), QSize(16, 16));
    setWindowIcon(icon);

    const int dpiX = logicalDpiX();
    const int dpiY = logicalDpiY();
    setFixedSize(twipsToPixels(kClientWidthTwips, dpiX), twipsToPixels(kClientHeightTwips, dpiY));
    QPalette p = palette();
    p.setColor(QPalette::Window, bgrColor(kBackground));
    setPalette(p);
    setAutoFillBackground(true);

    // Wider than the client area: the window cuts off what lies beyond its right edge.
    Label1 = new QLabel(QStringLiteral("正在执行删除操作，请等待............"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setFocusPolicy(Qt::NoFocus);
    Label1->setAutoFillBackground(true);
    QFont font(captionFontFamily());
    font.setPointSizeF(10.8);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    // A brush font has no bitmaps drawn for this size: smooth it, whatever the program font does.
    font.setStyleStrategy(QFont::PreferAntialias);
    Label1->setFont(font);
    Label1->setGeometry(twipsRect(300, 150, 4200, 300, dpiX, dpiY));

    centreOnScreen(this);
}

void FrmShowDel::Show() {
    QPointer<FrmShowDel>& w = instance();
    if (!w)
        w = new FrmShowDel;
    w->show();
    // Once the platform knows the frame, the frame is what is centred.
    centreOnScreen(w);
    w->raise();
}

void FrmShowDel::Close() {
    QPointer<FrmShowDel>& w = instance();
    if (!w)
        return;
    FrmShowDel* gone = w;
    w = nullptr;
    gone->hide();
    delete gone;
}

FrmShowDel* FrmShowDel::current() {
    return instance();
}
