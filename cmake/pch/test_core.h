// Tests of the widget-free libraries and of the sandbox: Qt Test brings the whole of Qt Core.
#include <QtTest>

#include "core.h"
