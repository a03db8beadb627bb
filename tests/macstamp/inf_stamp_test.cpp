// Stamping the installation file.
#include "macstamp/inf_stamp.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

namespace {

const std::array<uint8_t, 6> kMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(MacStamp, EveryPlaceholderTakesTheAddressInUpperCase)
{
    EXPECT_EQ(macstamp::formatMac({0xAB, 0xCD, 0xEF, 0x01, 0x02, 0x03}), "AB-CD-EF-01-02-03");
    const QByteArray text = "a=00-C2-B0-30-03-E0\r\nb = \"00-C2-B0-30-03-E0\"\r\nlower 00-c2-b0-30-03-e0\r\n\xE9\xFF";
    EXPECT_EQ(macstamp::stampText(text, kMac),
              "a=00-1A-2B-3C-4D-5E\r\nb = \"00-1A-2B-3C-4D-5E\"\r\nlower 00-c2-b0-30-03-e0\r\n\xE9\xFF");
}

TEST(MacStamp, TheShippedFileIsStampedAndASecondRunChangesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("SatNic.inf");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KEST_SOURCE_DIR "/SatNicDrv/SatNic.inf"), path));
    const QByteArray original = readAll(path);
    ASSERT_TRUE(original.contains(macstamp::kPlaceholder));

    ASSERT_TRUE(macstamp::stampFile(path, kMac));
    const QByteArray stamped = readAll(path);
    EXPECT_FALSE(stamped.contains(macstamp::kPlaceholder));
    EXPECT_EQ(stamped.count("00-1A-2B-3C-4D-5E"), original.count(macstamp::kPlaceholder));
    EXPECT_EQ(stamped.size(), original.size());

    ASSERT_TRUE(macstamp::stampFile(path, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(readAll(path), stamped);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"SatNic.inf"});
}

TEST(MacStamp, AMissingFileFailsWithItsError)
{
    QTemporaryDir dir;
    errno = 0;
    EXPECT_FALSE(macstamp::stampFile(dir.filePath("SatNicDrv/SatNic.inf"), kMac));
    EXPECT_EQ(errno, ENOENT);
}
