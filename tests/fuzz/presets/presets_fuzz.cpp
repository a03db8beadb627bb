// libFuzzer target: arbitrary bytes as a providers file (Windows-1251 text).
// Whatever table a file loads as, saving it and loading the result must give
// the same table back.
#include "presets/provider_table.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

const QTemporaryDir& workDir()
{
    static const QTemporaryDir dir;
    return dir;
}

void writeFile(const QString& path, const uint8_t* data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) != static_cast<qint64>(size))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString loadedPath = workDir().filePath(QStringLiteral("loaded.ini"));
    const QString savedPath = workDir().filePath(QStringLiteral("saved.ini"));
    writeFile(loadedPath, data, size);
    ProviderTable loaded;
    if (!loadProviderFile(loaded, loadedPath))
        std::abort();
    for (int i = 0; i < loaded.size(); ++i)
        if (loaded.record(i).name != loaded.names[i])
            std::abort();

    if (!saveProviderFile(loaded, savedPath))
        std::abort();
    ProviderTable again;
    if (!loadProviderFile(again, savedPath) || again.size() != loaded.size())
        std::abort();
    for (int i = 0; i < loaded.size(); ++i) {
        if (!(again.record(i) == loaded.record(i))) {
            std::fprintf(stderr, "row %d comes back as another: \"%s\" -> \"%s\"\n", i,
                         loaded.names[i].toUtf8().constData(), again.names[i].toUtf8().constData());
            std::abort();
        }
    }
    return 0;
}
