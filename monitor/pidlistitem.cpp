#include "monitor/pidlistitem.h"

#include <QBrush>
#include <QString>
#include <QTreeWidget>

namespace {

template <typename T>
int order(T mine, T theirs)
{
    return mine < theirs ? -1 : (theirs < mine ? 1 : 0);
}

double percentValue(QString text)
{
    return text.remove(QLatin1Char('%')).toDouble();
}

} // namespace

PidListItem::PidListItem(QTreeWidget* view) : QTreeWidgetItem(view, kType)
{
    setColor(255, 255, 255);
}

void PidListItem::setColor(int red, int green, int blue)
{
    colour = QColor(red, green, blue);
    // Every cell, so the whole row shows the colour whatever the column count.
    const int columns = qMax(treeWidget() ? treeWidget()->columnCount() : 0, StatusColumn + 1);
    for (int column = 0; column < columns; ++column)
        setBackground(column, QBrush(colour));
}

int PidListItem::compare(const QTreeWidgetItem& other, int column) const
{
    switch (column) {
    case PidColumn:
    case CountColumn:
        return order(text(column).toULongLong(nullptr, 10), other.text(column).toULongLong(nullptr, 10));
    case PercentColumn:
        return order(percentValue(text(column)), percentValue(other.text(column)));
    default:
        return order(text(column).compare(other.text(column)), 0);
    }
}

bool PidListItem::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* view = treeWidget();
    const int column = view ? view->sortColumn() : PidColumn;
    if (column > PercentColumn)
        return QTreeWidgetItem::operator<(other);
    return compare(other, column) < 0;
}
