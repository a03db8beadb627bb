#include "macstamp/inf_stamp.h"

#include "platform/files/whole_file.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

bool readAll(int fd, QByteArray* text)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text->append(buffer, static_cast<int>(n));
    }
}

// Writes `text` over the file that was read (`read`), where it stands.
bool writeInPlace(const QByteArray& path, const struct stat& read, const QByteArray& text)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat now {};
    bool ok = ::fstat(fd, &now) == 0;
    if (ok && (now.st_dev != read.st_dev || now.st_ino != read.st_ino)) {
        errno = EBUSY; // another file took its place meanwhile
        ok = false;
    }
    for (qint64 done = 0; ok && done < text.size();) {
        const ssize_t n = ::pwrite(fd, text.constData() + done, static_cast<size_t>(text.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += n;
    }
    ok = ok && ::ftruncate(fd, text.size()) == 0 && ::fsync(fd) == 0;
    const int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok && error != 0)
        errno = error;
    return ok;
}

} // namespace

bool stampFile(const QString& path, const std::array<uint8_t, 6>& mac)
{
    const QByteArray name = QFile::encodeName(path);
    // A symbolic link is refused (ELOOP): run as root, following it would
    // write wherever it leads.
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    QByteArray text;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ok = false;
    }
    ok = ok && readAll(fd, &text);
    const int error = errno;
    ::close(fd);
    if (!ok) {
        errno = error;
        return false;
    }
    const QByteArray stamped = stampText(text, mac);
    platform::ReplaceOptions options;
    options.keepOwner = true; // a file of another user stays theirs
    if (platform::replaceWholeFile(name.toStdString(), stamped.constData(), static_cast<size_t>(stamped.size()),
                                   options))
        return true;
    // The folder takes no new file (or the owner could not be kept): the file
    // is written where it is. The stamp keeps its length, so even a write cut
    // off leaves every line whole.
    return writeInPlace(name, st, stamped);
}

} // namespace macstamp
