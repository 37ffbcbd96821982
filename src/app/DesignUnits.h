#pragma once

#include <cmath>

#include <QColor>
#include <QRect>

// The windows are designed in twips (1/1440 inch) and colours in the &HBBGGRR notation.

// One twip coordinate in device-independent pixels at the given logical DPI, rounded to nearest.
inline int twipsToPixels(int twips, int dpi) {
    return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / 1440.0));
}

// Each edge is rounded on its own, so that neighbouring controls that share an edge in twips
// share it in pixels too; the size is what remains between the rounded edges.
inline QRect twipsRect(int left, int top, int width, int height, int dpiX, int dpiY) {
    const int x1 = twipsToPixels(left, dpiX);
    const int y1 = twipsToPixels(top, dpiY);
    const int x2 = twipsToPixels(left + width, dpiX);
    const int y2 = twipsToPixels(top + height, dpiY);
    return QRect(x1, y1, x2 - x1, y2 - y1);
}

// &HBBGGRR: blue in the high byte, red in the low one.
inline QColor bgrColor(unsigned int bbggrr) {
    return QColor(static_cast<int>(bbggrr & 0xFF), static_cast<int>((bbggrr >> 8) & 0xFF),
                  static_cast<int>((bbggrr >> 16) & 0xFF));
}
