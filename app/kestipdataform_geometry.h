#pragma once
// Where the main window opens: the geometry saved at the last shutdown,
// used only as far as it is still visible on the desktop.
#include <QPoint>
#include <QRect>
#include <QSize>

class QSettings;
class QWidget;

struct SavedGeometry {
    QRect rect;            // x, y include the window frame
    bool maximised = false;
};

struct WindowPlacement {
    bool maximised = false;
    QSize size;
    bool move = false;     // false: leave the position to the window system
    QPoint position;
};

constexpr int DefaultWindowWidth = 439;
constexpr int DefaultWindowHeight = 592;

// Reads the Geometry group; missing keys give the primary screen's top-left
// corner and the default size.
SavedGeometry readSavedGeometry(QSettings& settings, const QRect& primaryScreen);

// The saved position is kept only when more than a twentieth of the window's
// area lies on the desktop.
WindowPlacement placeMainWindow(const QRect& desktop, const SavedGeometry& saved);

// Shows the window as placed.
void showPlaced(QWidget& window, const WindowPlacement& placement);
