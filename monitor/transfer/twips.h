// Controls placed at fixed positions in a window's client area, given in
// twips as the transfer windows are laid out.
#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>
#include <cmath>
#include <cstdint>

#include "core/forms.h"

inline int twipsToPixels(int32_t twips) {
    return static_cast<int>(std::lround(twips / static_cast<double>(TwipsPerPixel)));
}

inline void placeTwips(QWidget *w, int32_t left, int32_t top, int32_t width, int32_t height) {
    w->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

// Back and text colour of a control.
inline void setColours(QWidget *w, const QColor &back, const QColor &text) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, back);
    p.setColor(QPalette::WindowText, text);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}
