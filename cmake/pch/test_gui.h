// Window tests: Qt Test with its widget helpers, and the widgets the windows are made of.
#include <QtTest>

#include <QAbstractItemView>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "gui.h"
