// Makes the desktop icons of the installed program in the layout of the hicolor
// theme: FOLDER/NxN/apps/NAME.png. The 16-pixel icon is the window icon the
// program carries (KestIcoSmall.png); the larger ones are the same dish drawn
// at their size, which stays sharp where scaling the small one up would not.
//   kest_drawicons KestIcoSmall.png FOLDER NAME
#include "app/images/programicon.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: kest_drawicons KestIcoSmall.png FOLDER NAME\n");
        return 2;
    }
    const QImage small(QString::fromLocal8Bit(argv[1]));
    if (small.isNull() || small.size() != QSize(16, 16)) {
        std::fprintf(stderr, "kest_drawicons: %s is not a 16x16 image\n", argv[1]);
        return 1;
    }
    const QDir folder(QString::fromLocal8Bit(argv[2]));
    const QString name = QString::fromLocal8Bit(argv[3]);
    int status = 0;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString apps = QStringLiteral("%1x%1/apps").arg(size);
        const QImage icon = size == 16 ? small.convertToFormat(QImage::Format_ARGB32) : programIcon(size);
        if (!folder.mkpath(apps) || !icon.save(folder.filePath(apps + "/" + name + ".png"), "PNG")) {
            std::fprintf(stderr, "kest_drawicons: cannot write the %dx%d icon in %s\n", size, size, argv[2]);
            status = 1;
        }
    }
    return status;
}
