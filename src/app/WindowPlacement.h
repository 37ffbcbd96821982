#pragma once

#include <QScreen>
#include <QWidget>

// Centres a window, frame included where the frame is already known, on its screen.
inline void centreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen)
        return;
    QRect frame(QPoint(), window->frameGeometry().size());
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
