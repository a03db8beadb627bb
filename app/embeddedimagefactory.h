#pragma once
// The program's small images, compiled in and served by name
// ("lock2.png", "bg_green.gif", ...). Each image is uncompressed on its first
// request and kept; names outside the collection fall through to a file lookup.
// Use from the GUI thread only.
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QString>

// One record of an image table; a table ends with a record whose data is null.
// Uncompressed, data holds `height` rows of ((width * depth + 31) / 32) * 4
// bytes: 32-bit ARGB values in host order, or 8-bit palette indices.
struct EmbeddedImage {
    int width;
    int height;
    int depth;                  // 8 (palette) or 32
    const unsigned char* data;  // qCompress format
    quint32 compressedLength;
    int colourCount;            // 0 for 32-bit images
    const QRgb* colourTable;    // null for 32-bit images
    bool alpha;
    const char* name;           // UTF-8
};

// The program's own images (generated at build time from app/images/).
extern const EmbeddedImage kestEmbeddedImages[];

class EmbeddedImageFactory {
public:
    explicit EmbeddedImageFactory(const EmbeddedImage* table = kestEmbeddedImages);

    // The process-wide collection over kestEmbeddedImages.
    static EmbeddedImageFactory& defaultFactory();

    // Image held by the collection, null when `name` is not in it.
    QImage data(const QString& name);
    // data(name), or else the image file `name` (null when there is none).
    QImage image(const QString& name);
    QPixmap pixmap(const QString& name);

    void setImage(const QString& name, const QImage& image);
    // How many table images have been uncompressed so far.
    int uncompressCount() const { return uncompressCount_; }

private:
    QImage decode(const EmbeddedImage& record);

    const EmbeddedImage* table_;
    QHash<QString, QImage> images_;
    int uncompressCount_ = 0;
};
