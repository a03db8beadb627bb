// libFuzzer target: arbitrary bytes as the receiver's settings file, checked
// as at start, then, unless it holds serialized values (which the program
// never lets QSettings decode), every key read as the settings store reads it.
#include "app/settings_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

const QTemporaryDir& workDir()
{
    static const QTemporaryDir dir;
    return dir;
}

// Keys the store reads whether the file has them or not.
const char* const kStoreKeys[] = {"Settings/Freqency", "Settings/Symbol-Rate", "Settings/Polarisation",
                                  "Settings/LNBType", "Settings/ActivePIDs", "Settings/MPEFilter",
                                  "Geometry/MainwindowX", "Geometry/MainwindowMaximized"};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const bool unreadable = settingsTextUnreadable(text);
    if (holdsSerializedValues(text)) {
        if (!unreadable)
            std::abort();
        return 0;
    }
    // A name of its own each time: QSettings keeps what it parsed of a path.
    static unsigned serial = 0;
    const QString path = workDir().filePath(QStringLiteral("settings%1.conf").arg(serial++));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            std::abort();
    }
    {
        const QSettings settings(path, QSettings::IniFormat);
        const QStringList keys = settings.allKeys();
        if ((settings.status() == QSettings::FormatError) != unreadable)
            std::abort();
        for (const QString& key : keys) {
            readSettingString(settings, key, QString());
            readSettingInteger(settings, key, 7);
            settings.value(key).toInt();
        }
        for (const char* key : kStoreKeys) {
            readSettingString(settings, QString::fromLatin1(key), QStringLiteral("default"));
            readSettingInteger(settings, QString::fromLatin1(key), 7);
        }
    }
    QFile::remove(path);
    return 0;
}
