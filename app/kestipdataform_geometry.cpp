#include "app/kestipdataform_geometry.h"

#include <QSettings>
#include <QWidget>

SavedGeometry readSavedGeometry(QSettings& settings, const QRect& primaryScreen)
{
    SavedGeometry saved;
    settings.beginGroup(QStringLiteral("Geometry"));
    const int x = settings.value(QStringLiteral("MainwindowX"), primaryScreen.left()).toInt();
    const int y = settings.value(QStringLiteral("MainwindowY"), primaryScreen.top()).toInt();
    const int w = settings.value(QStringLiteral("MainwindowWidth"), DefaultWindowWidth).toInt();
    const int h = settings.value(QStringLiteral("MainwindowHeight"), DefaultWindowHeight).toInt();
    saved.maximised = settings.value(QStringLiteral("MainwindowMaximized"), false).toBool();
    settings.endGroup();
    saved.rect = QRect(x, y, w, h);
    return saved;
}

WindowPlacement placeMainWindow(const QRect& desktop, const SavedGeometry& saved)
{
    WindowPlacement placement;
    if (saved.maximised) {
        placement.maximised = true;
        return placement;
    }
    placement.size = saved.rect.size();
    const QRect visible = desktop.intersected(saved.rect);
    const long long visibleArea = visible.isEmpty()
        ? 0 : static_cast<long long>(visible.width()) * visible.height();
    const long long area = static_cast<long long>(saved.rect.width()) * saved.rect.height();
    if (visibleArea > area / 20) {
        placement.move = true;
        placement.position = saved.rect.topLeft();
    }
    return placement;
}

void showPlaced(QWidget& window, const WindowPlacement& placement)
{
    if (placement.maximised) {
        window.showMaximized();
        return;
    }
    window.resize(placement.size);
    if (placement.move)
        window.move(placement.position);
    window.show();
}
