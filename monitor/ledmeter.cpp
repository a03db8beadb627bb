#include "monitor/ledmeter.h"

#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

LedMeter::LedMeter(QWidget* parent, const char* name) : QFrame(parent)
{
    if (name)
        setObjectName(QString::fromUtf8(name));
    // The whole widget is painted from the off-screen pixmap: no erasing.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMinimumSize(2 * frameWidth() + 40, 14);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LedMeter::setValue(int value)
{
    value_ = std::clamp(value, 0, range_);
    const int lit = static_cast<int>(
        std::ceil(static_cast<double>(count_) / static_cast<double>(range_) * value_));
    if (lit != litCount_) {
        litCount_ = lit;
        update();
    }
}

void LedMeter::setRange(int range)
{
    range_ = std::max(range, 1);
    setValue(value_);
    update();
}

void LedMeter::setCount(int count)
{
    count_ = std::max(count, 1);
    computeBandEnds();
    setValue(value_);
    update();
}

void LedMeter::setLineWidth(int width)
{
    segmentWidth_ = std::max(width, 1);
    setCount(contentsRect().width() / (segmentWidth_ + 1));
}

void LedMeter::addBand(int percent, const QColor& colour)
{
    bands_.append(Band{percent, 0, colour});
    computeBandEnds();
}

void LedMeter::setBackground(const QColor& colour, const QPixmap& tile)
{
    QPalette pal = palette();
    QBrush brush(colour);
    if (!tile.isNull())
        brush = QBrush(colour, tile);
    pal.setBrush(backgroundRole(), brush);
    setPalette(pal);
}

void LedMeter::computeBandEnds()
{
    int total = 0;
    for (Band& band : bands_) {
        total += count_ * band.percent / 100;
        band.end = total;
    }
}

void LedMeter::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    setCount(contentsRect().width() / (segmentWidth_ + 1));
    setFrameRect(rect());
}

void LedMeter::paintEvent(QPaintEvent*)
{
    QPixmap pixmap(size());
    pixmap.fill(palette().color(QPalette::Window));
    {
        QPainter painter(&pixmap);
        drawFrame(&painter);
        drawContents(painter);
    }
    QPainter(this).drawPixmap(0, 0, pixmap);
}

void LedMeter::drawContents(QPainter& painter) const
{
    const QRect contents = contentsRect();
    const QBrush background = palette().brush(backgroundRole());
    painter.fillRect(contents, background.color());
    if (!background.texture().isNull())
        painter.drawTiledPixmap(contents, background.texture());

    int band = 0;
    QColor colour = bands_.isEmpty() ? palette().color(foregroundRole()) : bands_[0].colour;
    int limit = bands_.isEmpty() ? count_ : bands_[0].end;

    const int step = contents.width() / count_;
    int x = contents.left() + 1;
    for (int i = 0; i < litCount_; ++i, x += step) {
        if (i >= limit && band + 1 < bands_.size()) {
            ++band;
            colour = bands_[band].colour;
            limit = bands_[band].end;
        }
        painter.fillRect(QRect(x, contents.top(), step - 1, contents.height()), colour);
    }
}
