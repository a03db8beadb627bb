// libFuzzer target: arbitrary bytes as a providers file (Windows-1251 text),
// parsed and read into the provider table.
#include "presets/ini_file.h"
#include "presets/provider_table.h"

#include <QBuffer>
#include <QTextCodec>
#include <QTextStream>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QTextStream in(&bytes, QIODevice::ReadOnly);
    in.setCodec(QTextCodec::codecForName("Windows-1251"));
    IniFile ini(QStringLiteral("/nonexistent/fuzz.ini"));
    ini.parse(in);
    ProviderTable table;
    readProviders(table, ini);
    for (int i = 0; i < table.size(); ++i) {
        const ProviderRecord r = table.record(i);
        if (r.name != table.names[i])
            std::abort();
    }
    return 0;
}
