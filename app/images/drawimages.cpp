// Draws the program's small images into a folder as PNG files.
// Run once when an image is to change (kest_drawimages app/images) and commit the result;
// the build compiles the PNGs in through kest_embedimages and images.txt.
#include "app/images/programicon.h"

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

QImage blank(int w, int h, QColor fill)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(fill);
    return image;
}

// Round LED of diameter d at (x, y): lit colour with a highlight.
void drawLed(QPainter& p, QRectF r, QColor colour)
{
    QRadialGradient g(r.center() - QPointF(r.width() / 5, r.height() / 5), r.width() * 0.7);
    g.setColorAt(0, colour.lighter(170));
    g.setColorAt(0.5, colour);
    g.setColorAt(1, colour.darker(170));
    p.setPen(QPen(colour.darker(250), 1));
    p.setBrush(g);
    p.drawEllipse(r);
}

// Two small arrows (down and up): data flowing.
void drawActivity(QPainter& p, QRectF r)
{
    const qreal cx = r.center().x(), cy = r.center().y(), a = r.width() / 4;
    QPainterPath down, up;
    down.moveTo(cx - a * 1.6, cy - a * 0.9);
    down.lineTo(cx - a * 0.2, cy - a * 0.9);
    down.lineTo(cx - a * 0.9, cy + a * 0.9);
    down.closeSubpath();
    up.moveTo(cx + a * 0.2, cy + a * 0.9);
    up.lineTo(cx + a * 1.6, cy + a * 0.9);
    up.lineTo(cx + a * 0.9, cy - a * 0.9);
    up.closeSubpath();
    p.setPen(QPen(QColor(90, 60, 0), 0.6));
    p.setBrush(QColor(255, 220, 40));
    p.drawPath(down);
    p.drawPath(up);
}

const QColor grey(150, 150, 150), green(40, 200, 40);

QImage indicator(int size, QColor colour, bool activity, bool opaque)
{
    QImage image = blank(size, size, opaque ? QColor(48, 52, 60) : QColor(0, 0, 0, 0));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(1.5, 1.5, size - 3, size - 3);
    drawLed(p, r, colour);
    if (activity)
        drawActivity(p, r);
    return image;
}

QImage logo()
{
    const int w = 50, h = 470;
    QImage image = blank(w, h, Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(10, 30, 80));
    g.setColorAt(1, QColor(30, 90, 170));
    p.fillRect(image.rect(), g);
    // Signal waves falling on the dish.
    p.setPen(QPen(QColor(150, 200, 255, 160), 1.5));
    for (int i = 0; i < 3; ++i)
        p.drawArc(QRectF(12 - 5 * i, 6 - 5 * i, 26 + 10 * i, 26 + 10 * i), 30 * 16, 120 * 16);
    drawDish(p, QRectF(7, 22, 36, 36), QColor(235, 235, 240));
    p.setPen(QColor(255, 255, 255, 70));
    p.drawLine(8, 70, w - 8, 70);
    // Title, read from bottom to top.
    p.save();
    p.translate(w / 2 + 9, h - 14);
    p.rotate(-90);
    QFont title("DejaVu Sans", 20, QFont::Bold);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QPointF(0, 0), "Kest IP Data");
    QFont sub("DejaVu Sans", 9);
    p.setFont(sub);
    p.setPen(QColor(180, 210, 255));
    p.drawText(QPointF(0, -26), "DVB-S / DVB-S2 receiver");
    p.restore();
    return image;
}

QImage windowIcon()
{
    // Palette of 64 colours: four levels per channel.
    QVector<QRgb> palette;
    for (int r = 0; r < 4; ++r)
        for (int g = 0; g < 4; ++g)
            for (int b = 0; b < 4; ++b)
                palette.append(qRgb(r * 85, g * 85, b * 85));
    return programIcon(16).convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither);
}

QImage legend(QColor fill)
{
    QImage image = blank(8, 8, fill.darker(200));
    QPainter p(&image);
    p.fillRect(1, 1, 6, 6, fill);
    p.fillRect(1, 1, 6, 1, fill.lighter(150));
    return image;
}

QImage greenLegend()
{
    QImage image(8, 8, QImage::Format_Indexed8);
    image.setColorTable({qRgb(0, 100, 0), qRgb(0, 200, 0), qRgb(120, 255, 120)});
    image.fill(0);
    for (int y = 1; y < 7; ++y)
        for (int x = 1; x < 7; ++x)
            image.setPixel(x, y, y == 1 ? 2 : 1);
    return image;
}

// Tile under the LED meters: a dark gap column, then two columns of unlit LED.
QImage ledBackground()
{
    QImage image(3, 2, QImage::Format_RGB32);
    for (int y = 0; y < 2; ++y) {
        image.setPixel(0, y, qRgb(0, 0, 0));
        image.setPixel(1, y, y ? qRgb(0, 44, 0) : qRgb(0, 58, 0));
        image.setPixel(2, y, y ? qRgb(0, 44, 0) : qRgb(0, 58, 0));
    }
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kest_drawimages FOLDER\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const struct { const char* file; QImage image; } images[] = {
        {"bg_green.png", ledBackground()},
        {"iplogo2.png", logo()},
        {"lock2.png", indicator(22, green, false, false)},
        {"activ2.png", indicator(22, green, true, false)},
        {"nolock2.png", indicator(22, grey, false, false)},
        {"locksmall.png", indicator(16, green, false, true)},
        {"nolocksmall.png", indicator(16, grey, false, true)},
        {"activsmall.png", indicator(16, green, true, true)},
        {"KestIcoSmall.png", windowIcon()},
        {"blueLegend.png", legend(QColor(40, 90, 230))},
        {"greenLegend.png", greenLegend()},
    };
    int status = 0;
    for (const auto& entry : images) {
        if (!entry.image.save(dir.filePath(entry.file), "PNG")) {
            std::fprintf(stderr, "kest_drawimages: cannot write %s\n", entry.file);
            status = 1;
        }
    }
    return status;
}
