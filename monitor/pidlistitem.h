#pragma once
// One row of the statistics window's PID list: "PID", "Count", "Percent",
// "Status". The row has a background colour of its own (white at first) and
// sorts PID, Count and Percent by value rather than by text.
#include <QColor>
#include <QTreeWidgetItem>

class PidListItem : public QTreeWidgetItem {
public:
    enum Column { PidColumn = 0, CountColumn = 1, PercentColumn = 2, StatusColumn = 3 };
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    explicit PidListItem(QTreeWidget* view = nullptr);

    void setColor(int red, int green, int blue);
    QColor color() const { return colour; }

    // -1, 0 or 1 as this row's cell in `column` is smaller, equal or larger:
    // PID and Count as unsigned decimals, Percent as a number without its
    // "%", other columns as text.
    int compare(const QTreeWidgetItem& other, int column) const;
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    QColor colour = Qt::white;
};
