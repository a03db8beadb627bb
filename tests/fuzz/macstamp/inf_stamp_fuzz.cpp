// libFuzzer target: the installation file macstamp stamps, as any bytes, with any address.
//
// Input layout: bytes 0..5 the card's MAC address, the rest the file.
// The file is stamped in memory and on disk (read, stamped, replaced); both must agree,
// keep the file's length (an address replaces an address of the same width), change
// nothing but placeholders, and leave the file as it was when the address is the
// placeholder's own.
#include "macstamp/inf_stamp.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// In memory where there is such a folder: the stamp syncs the file to disk.
const QString& scratchFile()
{
    static const QString path = (QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm") : QDir::tempPath())
        + QStringLiteral("/fuzz_inf_stamp-%1.inf").arg(::getpid());
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 6)
        return 0;
    std::array<uint8_t, 6> mac;
    std::memcpy(mac.data(), data, 6);
    const QByteArray text(reinterpret_cast<const char*>(data + 6), static_cast<int>(size - 6));

    const QByteArray stamped = macstamp::stampText(text, mac);
    if (stamped.size() != text.size())
        std::abort();
    // Outside the placeholders every byte stays; each placeholder became the address.
    const QByteArray placeholder(macstamp::kPlaceholder);
    const QByteArray address = macstamp::formatMac(mac);
    for (int i = 0; i < text.size();) {
        if (text.mid(i, placeholder.size()) == placeholder) {
            if (stamped.mid(i, address.size()) != address)
                std::abort();
            i += placeholder.size();
        } else {
            if (stamped[i] != text[i])
                std::abort();
            ++i;
        }
    }
    const std::array<uint8_t, 6> own = {0x00, 0xC2, 0xB0, 0x30, 0x03, 0xE0};
    if (macstamp::stampText(text, own) != text)
        std::abort();

    QFile file(scratchFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return 0; // no room for the scratch file: nothing to learn from this input
    file.close();
    if (!macstamp::stampFile(scratchFile(), mac))
        std::abort();
    if (!file.open(QIODevice::ReadOnly))
        std::abort();
    const QByteArray onDisk = file.readAll();
    file.close();
    QFile::remove(scratchFile());
    if (onDisk != stamped)
        std::abort();
    return 0;
}
