#include "macstamp/inf_stamp.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>

namespace macstamp {

QByteArray formatMac(const std::array<uint8_t, 6>& mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%.2X-%.2X-%.2X-%.2X-%.2X-%.2X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return QByteArray(text);
}

QByteArray stampText(const QByteArray& text, const std::array<uint8_t, 6>& mac)
{
    // The placeholder holds no pattern characters, so a plain replacement
    // matches exactly what the pattern would, byte for byte in any encoding.
    QByteArray result = text;
    return result.replace(QByteArray(kPlaceholder), formatMac(mac));
}

bool stampFile(const QString& path, const std::array<uint8_t, 6>& mac)
{
    QFile in(path);
    errno = 0;
    if (!in.open(QIODevice::ReadOnly)) {
        if (errno == 0)
            errno = ENOENT;
        return false;
    }
    const QByteArray text = in.readAll();
    const bool readOk = in.error() == QFileDevice::NoError;
    in.close();
    if (!readOk) {
        if (errno == 0)
            errno = EIO;
        return false;
    }
    QSaveFile out(path);
    errno = 0;
    if (!out.open(QIODevice::WriteOnly) || out.write(stampText(text, mac)) < 0 || !out.commit()) {
        if (errno == 0)
            errno = EACCES;
        return false;
    }
    return true;
}

} // namespace macstamp
