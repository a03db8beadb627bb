#include "presets/provider_table.h"

#include "presets/ini_file.h"

#include "platform/files/whole_file.h"

#include <QFile>
#include <QFileInfo>

namespace {

const char* const kRawKeys[6] = {"RAW0", "RAW1", "RAW2", "RAW3", "RAW4", "RAW5"};

} // namespace

bool ProviderRecord::operator==(const ProviderRecord& o) const
{
    for (int i = 0; i < 6; ++i)
        if (rawCommands[i] != o.rawCommands[i])
            return false;
    return name == o.name && frequency == o.frequency && polarisation == o.polarisation
        && symbolRate == o.symbolRate && modulation == o.modulation && fec == o.fec && lnbType == o.lnbType
        && lof1 == o.lof1 && lof2 == o.lof2 && lofSwitch == o.lofSwitch && diseqc10 == o.diseqc10
        && multiOption == o.multiOption && repeatCount == o.repeatCount && gapTime == o.gapTime
        && diseqc12 == o.diseqc12 && position == o.position && txCount == o.txCount && raw == o.raw
        && streamId == o.streamId && plsMode == o.plsMode && plsCode == o.plsCode && bbFrames == o.bbFrames;
}

void ProviderTable::append(const ProviderRecord& r)
{
    names << r.name;
    frequency << r.frequency;
    polarisation << r.polarisation;
    symbolRate << r.symbolRate;
    modulation << r.modulation;
    fec << r.fec;
    lnbType << r.lnbType;
    lof1 << r.lof1;
    lof2 << r.lof2;
    lofSwitch << r.lofSwitch;
    diseqc10 << r.diseqc10;
    multiOption << r.multiOption;
    repeatCount << r.repeatCount;
    gapTime << r.gapTime;
    diseqc12 << r.diseqc12;
    position << r.position;
    txCount << r.txCount;
    raw << r.raw;
    for (int i = 0; i < 6; ++i)
        rawCommands[i] << r.rawCommands[i];
    streamId << r.streamId;
    plsMode << r.plsMode;
    plsCode << r.plsCode;
    bbFrames << r.bbFrames;
}

void ProviderTable::overwrite(int row, const ProviderRecord& r)
{
    if (row < 0 || row >= size())
        return;
    names[row] = r.name;
    frequency[row] = r.frequency;
    polarisation[row] = r.polarisation;
    symbolRate[row] = r.symbolRate;
    modulation[row] = r.modulation;
    fec[row] = r.fec;
    lnbType[row] = r.lnbType;
    lof1[row] = r.lof1;
    lof2[row] = r.lof2;
    lofSwitch[row] = r.lofSwitch;
    diseqc10[row] = r.diseqc10;
    multiOption[row] = r.multiOption;
    repeatCount[row] = r.repeatCount;
    gapTime[row] = r.gapTime;
    diseqc12[row] = r.diseqc12;
    position[row] = r.position;
    txCount[row] = r.txCount;
    raw[row] = r.raw;
    for (int i = 0; i < 6; ++i)
        rawCommands[i][row] = r.rawCommands[i];
    streamId[row] = r.streamId;
    plsMode[row] = r.plsMode;
    plsCode[row] = r.plsCode;
    bbFrames[row] = r.bbFrames;
}

void ProviderTable::remove(int row)
{
    if (row < 0 || row >= size())
        return;
    names.removeAt(row);
    for (QList<int>* list : {&frequency, &polarisation, &symbolRate, &modulation, &fec, &lnbType, &lof1, &lof2,
                             &lofSwitch, &multiOption, &repeatCount, &gapTime, &txCount, &streamId, &plsMode,
                             &plsCode})
        list->removeAt(row);
    for (QList<bool>* list : {&diseqc10, &diseqc12, &raw, &bbFrames})
        list->removeAt(row);
    position.removeAt(row);
    for (auto& list : rawCommands)
        list.removeAt(row);
}

void ProviderTable::clear()
{
    while (size() > 0)
        remove(size() - 1);
}

ProviderRecord ProviderTable::record(int row) const
{
    ProviderRecord r;
    if (row < 0 || row >= size())
        return r;
    r.name = names[row];
    r.frequency = frequency[row];
    r.polarisation = polarisation[row];
    r.symbolRate = symbolRate[row];
    r.modulation = modulation[row];
    r.fec = fec[row];
    r.lnbType = lnbType[row];
    r.lof1 = lof1[row];
    r.lof2 = lof2[row];
    r.lofSwitch = lofSwitch[row];
    r.diseqc10 = diseqc10[row];
    r.multiOption = multiOption[row];
    r.repeatCount = repeatCount[row];
    r.gapTime = gapTime[row];
    r.diseqc12 = diseqc12[row];
    r.position = position[row];
    r.txCount = txCount[row];
    r.raw = raw[row];
    for (int i = 0; i < 6; ++i)
        r.rawCommands[i] = rawCommands[i][row];
    r.streamId = streamId[row];
    r.plsMode = plsMode[row];
    r.plsCode = plsCode[row];
    r.bbFrames = bbFrames[row];
    return r;
}

void readProviders(ProviderTable& table, IniFile& ini)
{
    table.clear();
    const ProviderRecord d;
    for (const QString& name : ini.sectionNames()) {
        ini.selectSection(name);
        ProviderRecord r;
        r.name = name;
        r.frequency = ini.readNumEntry("Freqency", d.frequency, 10);
        r.polarisation = ini.readBoolEntry("Polarisation", false) ? 1 : 0;
        r.symbolRate = ini.readNumEntry("Symbol-Rate", d.symbolRate, 10);
        r.modulation = ini.readNumEntry("Modulation", d.modulation, 10);
        r.fec = ini.readNumEntry("FEC", d.fec, 10);
        r.lnbType = ini.readNumEntry("LNBType", d.lnbType, 10);
        r.lof1 = ini.readNumEntry("LOF1", d.lof1, 10);
        r.lof2 = ini.readNumEntry("LOF2", d.lof2, 10);
        r.lofSwitch = ini.readNumEntry("LOF_SW", d.lofSwitch, 10);
        r.diseqc10 = ini.readBoolEntry("DiSEqC-1.0", false);
        r.multiOption = ini.readNumEntry("MultiOption", d.multiOption, 10);
        r.repeatCount = ini.readNumEntry("RepeatCount", d.repeatCount, 10);
        r.gapTime = ini.readNumEntry("GapTime", d.gapTime, 10);
        r.diseqc12 = ini.readBoolEntry("DiSEqC-1.2", false);
        r.position = ini.readEntry("Position", QString());
        r.txCount = ini.readNumEntry("TXCount", d.txCount, 10);
        r.raw = ini.readBoolEntry("RAW", false);
        for (int i = 0; i < 6; ++i)
            r.rawCommands[i] = ini.readEntry(kRawKeys[i], QString());
        r.streamId = ini.readNumEntry("StreamID", d.streamId, 10);
        r.plsMode = ini.readNumEntry("PLSMode", d.plsMode, 10);
        r.plsCode = ini.readNumEntry("PLSCode", d.plsCode, 10);
        r.bbFrames = ini.readBoolEntry("BBFrames", d.bbFrames);
        table.append(r);
    }
}

bool loadProviderFile(ProviderTable& table, const QString& fileName)
{
    table.clear();
    if (!QFileInfo::exists(fileName))
        return false;
    IniFile ini(fileName);
    if (ini.load())
        readProviders(table, ini);
    ini.close();
    return true;
}

bool saveProviderFile(const ProviderTable& table, const QString& fileName)
{
    IniFile ini(fileName);
    if (!ini.openForWrite())
        return false;
    for (int i = 0; i < table.size(); ++i) {
        const ProviderRecord r = table.record(i);
        ini.writeSection(r.name);
        ini.writeNumEntry("Freqency", r.frequency, 10);
        ini.writeNumEntry("Polarisation", r.polarisation, 10);
        ini.writeNumEntry("Symbol-Rate", r.symbolRate, 10);
        ini.writeNumEntry("Modulation", r.modulation, 10);
        ini.writeNumEntry("FEC", r.fec, 10);
        ini.writeNumEntry("LNBType", r.lnbType, 10);
        ini.writeNumEntry("LOF1", r.lof1, 10);
        ini.writeNumEntry("LOF2", r.lof2, 10);
        ini.writeNumEntry("LOF_SW", r.lofSwitch, 10);
        ini.writeBoolEntry("DiSEqC-1.0", r.diseqc10);
        ini.writeNumEntry("MultiOption", r.multiOption, 10);
        ini.writeNumEntry("RepeatCount", r.repeatCount, 10);
        ini.writeNumEntry("GapTime", r.gapTime, 10);
        ini.writeBoolEntry("DiSEqC-1.2", r.diseqc12);
        ini.writeEntry("Position", r.position);
        ini.writeNumEntry("TXCount", r.txCount, 10);
        ini.writeBoolEntry("RAW", r.raw);
        for (int i = 0; i < 6; ++i)
            ini.writeEntry(kRawKeys[i], r.rawCommands[i]);
        // Only when not the default: files of providers without a stream stay as they were.
        const ProviderRecord d;
        if (r.streamId != d.streamId)
            ini.writeNumEntry("StreamID", r.streamId, 10);
        if (r.plsMode != d.plsMode)
            ini.writeNumEntry("PLSMode", r.plsMode, 10);
        if (r.plsCode != d.plsCode)
            ini.writeNumEntry("PLSCode", r.plsCode, 10);
        if (r.bbFrames != d.bbFrames)
            ini.writeBoolEntry("BBFrames", r.bbFrames);
    }
    return ini.close();
}

int removeInterruptedSaves(const QString& fileName)
{
    return platform::removeStaleReplacements(QFile::encodeName(fileName).toStdString());
}
