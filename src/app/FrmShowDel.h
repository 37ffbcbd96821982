#pragma once

#include <QWidget>

class QLabel;

// The wait window shown while the catalogue is purged. Top-level, without an owner and not modal;
// it holds one line of text and has no rules of its own.
class FrmShowDel : public QWidget {
    Q_OBJECT

public:
    // Creates the window in its design state if absent, shows it centred and returns at once.
    static void Show();
    // Hides and destroys the window; harmless when it is already gone.
    static void Close();
    // The window while it exists, else null.
    static FrmShowDel* current();

    // The caption's font: the first of these installed, else any font for Simplified Chinese.
    static QString captionFontFamily();

    static constexpr int kClientWidthTwips = 4128;
    static constexpr int kClientHeightTwips = 588;

    QLabel* Label1 = nullptr;

private:
    FrmShowDel();
};
