#pragma once

#include <functional>

#include <QString>

class QWidget;

// The file dialog that picks an undo script. Tests answer it as they answer message boxes: no modal
// loop runs under test.
class ScriptDialog {
public:
    // The chosen file, or empty when the operator cancelled. Opens on folder, newest first.
    static QString choose(QWidget* parent, const QString& folder);

    // Test seam: while set, choose() shows nothing and returns what the function gives for the
    // folder it would have opened.
    static void setTestAnswer(std::function<QString(const QString& folder)> answer);
};
