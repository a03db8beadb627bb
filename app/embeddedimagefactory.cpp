#include "app/embeddedimagefactory.h"

#include <QByteArray>
#include <QVector>

EmbeddedImageFactory::EmbeddedImageFactory(const EmbeddedImage* table) : table_(table) {}

EmbeddedImageFactory& EmbeddedImageFactory::defaultFactory()
{
    static EmbeddedImageFactory factory;
    return factory;
}

QImage EmbeddedImageFactory::data(const QString& name)
{
    if (name.isNull())
        return QImage();
    const auto held = images_.constFind(name);
    if (held != images_.constEnd())
        return *held;
    for (const EmbeddedImage* record = table_; record && record->data; ++record) {
        if (QString::fromUtf8(record->name) == name) {
            const QImage image = decode(*record);
            if (!image.isNull())
                setImage(name, image);
            return image;
        }
    }
    return QImage();
}

QImage EmbeddedImageFactory::image(const QString& name)
{
    const QImage held = data(name);
    if (!held.isNull() || name.isEmpty())
        return held;
    return QImage(name);
}

QPixmap EmbeddedImageFactory::pixmap(const QString& name)
{
    return QPixmap::fromImage(image(name));
}

void EmbeddedImageFactory::setImage(const QString& name, const QImage& image)
{
    images_.insert(name, image);
}

QImage EmbeddedImageFactory::decode(const EmbeddedImage& record)
{
    ++uncompressCount_;
    const QByteArray pixels = qUncompress(record.data, static_cast<int>(record.compressedLength));
    const int rowBytes = (record.width * record.depth + 31) / 32 * 4;
    if (record.width <= 0 || record.height <= 0 || pixels.size() < rowBytes * record.height)
        return QImage();

    QImage::Format format = QImage::Format_Indexed8;
    if (record.depth == 32)
        format = record.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    else if (record.depth != 8)
        return QImage();
    const QImage view(reinterpret_cast<const uchar*>(pixels.constData()), record.width,
                      record.height, rowBytes, format);
    QImage image = view.copy();   // deep copy: the buffer goes away
    if (record.depth == 8) {
        QVector<QRgb> colours(record.colourCount);
        for (int i = 0; i < record.colourCount; ++i)
            colours[i] = record.colourTable[i];
        image.setColorTable(colours);
    }
    return image;
}
