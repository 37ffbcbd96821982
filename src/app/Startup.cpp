#include "app/Startup.h"

#include <QApplication>
#include <QFontDatabase>
#include <QIcon>

// Q_INIT_RESOURCE declares a function and so cannot sit inside a namespace.
static void registerIcons() {
    Q_INIT_RESOURCE(resources);
}

void initResources() {
    static const bool done = (registerIcons(), true);
    (void)done;
}

void setUpApplication(QApplication& app) {
    initResources();
    QApplication::setApplicationName(QStringLiteral("acctset-remover"));
    // No display name: the platform would append it to every window's title.
    QApplication::setDesktopFileName(QStringLiteral("acctset-remover"));
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/acctset-remover.xpm")));

#if defined(Q_OS_LINUX)
    // The default fallback blurs small Chinese glyphs; this one carries bitmaps drawn for 9 pt.
    const QString sharp = QStringLiteral("WenQuanYi Zen Hei Sharp");
    if (QFontDatabase::hasFamily(sharp)) {
        QFont font(sharp);
        font.setPointSize(9);
        font.setStyleStrategy(QFont::NoAntialias);
        font.setHintingPreference(QFont::PreferFullHinting);
        QApplication::setFont(font);
        return;
    }
#endif
    QApplication::setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
}
