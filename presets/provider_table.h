// The providers kept by the main window: 24 parallel columns, one row per
// provider, always of equal length, and the 4 of the DVB-S2 stream selection.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One row of the table, with the defaults a missing file key gives.
struct ProviderRecord {
    QString name;
    int frequency = 12565;   // MHz
    int polarisation = 0;    // combo-box index, 0 or 1
    int symbolRate = 20000;  // kS/s
    int modulation = 0;      // combo-box index
    int fec = 0;             // combo-box index
    int lnbType = 0;         // combo-box index
    int lof1 = 9750;         // MHz
    int lof2 = 10600;        // MHz
    int lofSwitch = 11700;   // MHz
    bool diseqc10 = false;
    int multiOption = 0;
    int repeatCount = 0;
    int gapTime = 50;        // ms
    bool diseqc12 = false;
    QString position;
    int txCount = 0;
    bool raw = false;
    QString rawCommands[6];
    // The DVB-S2 stream selection; in the file only when not these defaults.
    int streamId = -1;       // input stream identifier 0..255, -1 none
    int plsMode = 1;         // 0 root, 1 gold
    int plsCode = 0;
    bool bbFrames = false;   // baseband frames

    bool operator==(const ProviderRecord& other) const;
};

class ProviderTable {
public:
    int size() const { return names.size(); }
    void append(const ProviderRecord& record);
    // Rows outside the table are ignored.
    void overwrite(int row, const ProviderRecord& record);
    void remove(int row);
    void clear();
    ProviderRecord record(int row) const; // a default record outside the table

    QStringList names;
    QList<int> frequency, polarisation, symbolRate, modulation, fec, lnbType, lof1, lof2, lofSwitch;
    QList<bool> diseqc10;
    QList<int> multiOption, repeatCount, gapTime;
    QList<bool> diseqc12;
    QStringList position;
    QList<int> txCount;
    QList<bool> raw;
    QStringList rawCommands[6];
    QList<int> streamId, plsMode, plsCode;
    QList<bool> bbFrames;
};

// The file of the providers, in the working directory.
constexpr const char* kProvidersFileName = "kestipdata.ini";

// Reads `fileName` into `table` (cleared first), rows in ascending name order.
// False when there is no such file; an unreadable or malformed file gives
// what could be read, without error.
bool loadProviderFile(ProviderTable& table, const QString& fileName = QString::fromLatin1(kProvidersFileName));
// Writes the whole table; the old file stays whole until the new one is
// complete. False when it could not be written (the table is unchanged).
bool saveProviderFile(const ProviderTable& table, const QString& fileName = QString::fromLatin1(kProvidersFileName));
// The same, from and to text (tests, fuzzing).
void readProviders(ProviderTable& table, class IniFile& ini);
// Removes the files that saves of `fileName` left beside it when they were
// interrupted (named as only these saves name files); how many were removed.
int removeInterruptedSaves(const QString& fileName = QString::fromLatin1(kProvidersFileName));
