#pragma once

class QApplication;

// What the program sets once at start, before the main window exists: its name, its icon and the
// font of every window.
void setUpApplication(QApplication& app);

// The icons live in the widget library; every window asks for them before it uses them.
void initResources();
