// The yardstick: the least a Qt Widgets program does to put one label on the screen.
#include <QApplication>
#include <QLabel>

#include "app/FirstPaintProbe.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("label"));
    FirstPaintProbe::watch(&label);
    label.show();
    return app.exec();
}
