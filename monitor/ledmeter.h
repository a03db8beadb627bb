#pragma once
// LedMeter: a horizontal bar of LED-like segments. A value between 0 and
// `range` lights a proportional number of segments from the left; the lit
// segments are coloured by bands (for example red, yellow, green).
// The number of segments follows the widget's width: contents width divided
// by the segment pitch (`lineWidth` + 1). Painting goes through one off-screen
// pixmap and the widget never erases itself, so it does not flicker.
#include <QColor>
#include <QFrame>
#include <QVector>

class LedMeter : public QFrame {
    Q_OBJECT
    Q_PROPERTY(int range READ range WRITE setRange)
    Q_PROPERTY(int count READ count WRITE setCount)
    // Width of one segment in pixels; the frame's own line width is left alone.
    Q_PROPERTY(int lineWidth READ lineWidth WRITE setLineWidth)
    Q_PROPERTY(int value READ value WRITE setValue)

public:
    struct Band {
        int percent;   // share of `count`, as given to addBand
        int end;       // running total of the shares, in segments
        QColor colour;
    };

    explicit LedMeter(QWidget* parent = nullptr, const char* name = nullptr);

    int range() const { return range_; }
    int count() const { return count_; }
    int lineWidth() const { return segmentWidth_; }
    int value() const { return value_; }
    int litCount() const { return litCount_; }
    const QVector<Band>& bands() const { return bands_; }

    void setRange(int range);
    void setCount(int count);
    void setLineWidth(int width);   // hides QFrame::setLineWidth on purpose
    void addBand(int percent, const QColor& colour);
    // Background colour with an optional pixmap tiled over it.
    void setBackground(const QColor& colour, const QPixmap& tile = QPixmap());

public slots:
    void setValue(int value);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void computeBandEnds();
    void drawContents(QPainter& painter) const;

    int range_ = 100;
    int count_ = 20;
    int litCount_ = 0;
    int value_ = 0;
    int segmentWidth_ = 1;
    QVector<Band> bands_;
};
