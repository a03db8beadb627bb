// The program's picture: a satellite dish, drawn at any size. The window icon
// (KestIcoSmall.png) and the desktop icons of the installed program are made from it.
#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>

class QPainter;

// A dish of colour `bowl` with feed arm and feed, filling the square `r`.
void drawDish(QPainter& p, QRectF r, QColor bowl);

// The program icon, size x size pixels, 32-bit ARGB.
QImage programIcon(int size);
