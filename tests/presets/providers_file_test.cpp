// The providers file: what is written, what is read back, and how tolerant
// reading is of files edited by hand.
#include "presets/ini_file.h"
#include "presets/provider_table.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

class ProvidersFile : public ::testing::Test {
protected:
    QString path() const { return dir.filePath("kestipdata.ini"); }
    void writeBytes(const QByteArray& bytes) const
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray readBytes() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    ProviderTable load(const QByteArray& bytes)
    {
        writeBytes(bytes);
        ProviderTable table;
        EXPECT_TRUE(loadProviderFile(table, path()));
        return table;
    }
    QTemporaryDir dir;
};

ProviderRecord alpha()
{
    ProviderRecord r;
    r.name = "Alpha 19E";
    r.frequency = 11778;
    r.polarisation = 1;
    r.symbolRate = 22000;
    r.diseqc10 = true;
    r.multiOption = 2;
    r.repeatCount = 1;
    return r;
}

const char kAlphaText[] = "[Alpha 19E]\nFreqency\t11778\nPolarisation\t1\nSymbol-Rate\t22000\nModulation\t0\nFEC\t0\n"
                          "LNBType\t0\nLOF1\t9750\nLOF2\t10600\nLOF_SW\t11700\nDiSEqC-1.0\t1\nMultiOption\t2\n"
                          "RepeatCount\t1\nGapTime\t50\nDiSEqC-1.2\t0\nPosition\t\"\"\nTXCount\t0\nRAW\t0\n"
                          "RAW0\t\"\"\nRAW1\t\"\"\nRAW2\t\"\"\nRAW3\t\"\"\nRAW4\t\"\"\nRAW5\t\"\"\n";

} // namespace

TEST_F(ProvidersFile, WritesTheFixedFormByteForByte)
{
    ProviderTable table;
    table.append(alpha());
    ProviderRecord beta;
    beta.name = "Beta";
    table.append(beta);
    ASSERT_TRUE(saveProviderFile(table, path()));
    const QByteArray bytes = readBytes();
    EXPECT_TRUE(bytes.startsWith(QByteArray(kAlphaText) + "\n[Beta]\nFreqency\t12565\n")) << bytes.constData();
    EXPECT_TRUE(bytes.endsWith("RAW5\t\"\"\n")) << "no empty line after the last section";
    EXPECT_FALSE(bytes.contains('\r'));

    ProviderTable none;
    ASSERT_TRUE(saveProviderFile(none, path()));
    EXPECT_TRUE(readBytes().isEmpty());
}

TEST_F(ProvidersFile, RoundTripSortsByNameAndTrims)
{
    ProviderTable table;
    ProviderRecord zulu = alpha();
    zulu.name = "zulu";
    zulu.position = "  12.5E ";
    zulu.raw = true;
    zulu.rawCommands[3] = "E0 31 6B 01";
    zulu.diseqc12 = true;
    zulu.txCount = 3;
    table.append(zulu);
    ProviderRecord upper = alpha();
    upper.name = "  Zeta  ";
    table.append(upper);
    table.append(alpha());
    ASSERT_TRUE(saveProviderFile(table, path()));

    ProviderTable loaded;
    ASSERT_TRUE(loadProviderFile(loaded, path()));
    ASSERT_EQ(loaded.size(), 3);
    EXPECT_EQ(loaded.names, (QStringList{"Alpha 19E", "Zeta", "zulu"})) << "upper case sorts first";
    ProviderRecord expected = zulu;
    expected.position = "12.5E";
    EXPECT_TRUE(loaded.record(2) == expected);
    EXPECT_TRUE(loaded.record(0) == alpha());
}

TEST_F(ProvidersFile, CyrillicNamesAreWindows1251)
{
    ProviderTable table;
    ProviderRecord r;
    r.name = QString::fromUtf8("Триколор");
    table.append(r);
    ASSERT_TRUE(saveProviderFile(table, path()));
    EXPECT_TRUE(readBytes().startsWith("[\xD2\xF0\xE8\xEA\xEE\xEB\xEE\xF0]\n"));
    ProviderTable loaded;
    ASSERT_TRUE(loadProviderFile(loaded, path()));
    EXPECT_EQ(loaded.names.value(0), r.name);
}

// Every text comes back as it was, whatever it holds, except for blanks at
// its ends; files written before escaping read as they always did.
TEST_F(ProvidersFile, TextsWithLineBreaksQuotesAndForeignCharactersComeBackAsTheyWere)
{
    const QStringList texts = {"Line\nbreak",
                               "Say \"hi\"",
                               "\"",
                               "\"\"",
                               "CR\rLF\r\n",
                               "\nleading line feed",
                               QString::fromUtf8("Tab\tinside, \xe4\xb8\xad\xe6\x96\x87 and \xf0\x9f\x98\x80"),
                               "data{",
                               "}data",
                               "quote-n \"n and \"u0041 as typed",
                               "[brackets]",
                               "# not a comment"};
    ProviderTable table;
    for (int i = 0; i < texts.size(); ++i) {
        ProviderRecord r = alpha();
        r.name = texts[i];
        r.position = texts[(i + 1) % texts.size()];
        r.rawCommands[i % 6] = texts[(i + 2) % texts.size()];
        table.append(r);
    }
    ASSERT_TRUE(saveProviderFile(table, path()));
    ProviderTable loaded;
    ASSERT_TRUE(loadProviderFile(loaded, path()));
    ASSERT_EQ(loaded.size(), table.size()) << readBytes().constData();
    for (int i = 0; i < table.size(); ++i) {
        const int row = loaded.names.indexOf(table.names[i]);
        ASSERT_GE(row, 0) << "lost: " << table.names[i].toStdString();
        EXPECT_TRUE(loaded.record(row) == table.record(i)) << table.names[i].toStdString();
    }

    const ProviderTable old = load("[Say \"hi\"]\nPosition\t\"a \"b\" c\"\nRAW0\t\"\"\"\nRAW1\t\"  \\n \"\n");
    ASSERT_EQ(old.size(), 1);
    EXPECT_EQ(old.names[0], "Say \"hi\"");
    EXPECT_EQ(old.position[0], "a \"b\" c");
    EXPECT_EQ(old.rawCommands[0][0], "\"");
    EXPECT_EQ(old.rawCommands[1][0], "\\n") << "a backslash is no escape";
}

// A file in the fixed form holds names and texts as typed: double quotes in
// them, in any company, are no escape and the file is rewritten unchanged.
TEST_F(ProvidersFile, QuotesInAFileOfTheFixedFormAreReadAsTheyStandAndRewrittenUnchanged)
{
    const auto section = [](const QByteArray& name, const QByteArray& position) {
        QByteArray text = kAlphaText;
        text.replace("[Alpha 19E]", "[" + name + "]");
        text.replace("Position\t\"\"", "Position\t\"" + position + "\"");
        return text;
    };
    // In name order, as a rewrite puts them.
    const QByteArray file = section("\"n\"", "\"") + "\n" + section("Fox \"\"radio\"\"", "\"u0041 \"r \"\"")
        + "\n" + section("Sky \"news\" 28E", "say \"no\"");
    const ProviderTable table = load(file);
    EXPECT_EQ(table.names, (QStringList{"\"n\"", "Fox \"\"radio\"\"", "Sky \"news\" 28E"}));
    EXPECT_EQ(table.position, (QStringList{"\"", "\"u0041 \"r \"\"", "say \"no\""}));
    ASSERT_TRUE(saveProviderFile(table, path()));
    EXPECT_EQ(readBytes(), file);
}

TEST_F(ProvidersFile, TolerantReading)
{
    const ProviderTable t = load("stray line before any section\n"
                                 "# a comment\n"
                                 "[]\n"
                                 "[Dup]\nFreqency 11000\n"
                                 "[Dup]\nFreqency 11500\n"
                                 "[ Odd ]\n"
                                 "  Freqency \t  12565  \n"
                                 "Symbol-Rate\t22000 kS\n"
                                 "lof1\t9000\n"
                                 "LOF2\tx\n"
                                 "RAW\t7\n"
                                 "Position\t\"\n"
                                 "RAW0\t\"  quoted  \"\n"
                                 "RAW1\tdata{\n  line one\n }data \nline two\n}DATA\n"
                                 "RAW2\tdata{\nnever ended\n[Eaten]\n");
    ASSERT_EQ(t.size(), 3) << "an unfinished multi-line value swallows the rest";
    EXPECT_EQ(t.names, (QStringList{"", "Dup", "Odd"}));
    EXPECT_EQ(t.frequency[1], 11500) << "the later section of a name wins";
    const ProviderRecord odd = t.record(2);
    EXPECT_EQ(odd.frequency, 12565);
    EXPECT_EQ(odd.symbolRate, 20000) << "not a valid integer: the default";
    EXPECT_EQ(odd.lof1, 9000) << "keys in any case";
    EXPECT_EQ(odd.lof2, 10600);
    EXPECT_TRUE(odd.raw) << "any non-zero integer is true";
    EXPECT_EQ(odd.position, "") << "a lone quote becomes empty";
    EXPECT_EQ(odd.rawCommands[0], "quoted");
    EXPECT_EQ(odd.rawCommands[1], "line one\n }data \nline two") << "only an exact }data ends the value";
    EXPECT_EQ(odd.rawCommands[2], "") << "an unfinished multi-line value is not stored";
}

TEST_F(ProvidersFile, MissingEmptyAndUnwritableFiles)
{
    ProviderTable table;
    table.append(alpha());
    EXPECT_FALSE(loadProviderFile(table, path())) << "no file";
    EXPECT_EQ(table.size(), 0);
    EXPECT_EQ(load("").size(), 0);

    table.append(alpha());
    EXPECT_FALSE(saveProviderFile(table, dir.filePath("missing/dir/kestipdata.ini")));
    EXPECT_EQ(table.size(), 1) << "the table keeps the change";
}

TEST_F(ProvidersFile, RewritingReplacesTheFileWhole)
{
    ProviderTable table;
    table.append(alpha());
    ASSERT_TRUE(saveProviderFile(table, path()));
    const QByteArray before = readBytes();
    ProviderRecord beta;
    beta.name = "Beta";
    table.overwrite(0, beta);
    ASSERT_TRUE(saveProviderFile(table, path()));
    EXPECT_NE(readBytes(), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"kestipdata.ini"}) << "no temporary left behind";
}

// A save that is cut off leaves its new file behind, under a name only saves
// give; every other name is the user's.
TEST_F(ProvidersFile, TemporaryFilesOfInterruptedSavesAreRemoved)
{
    const QStringList own = {"kestipdata.ini.Ab3dE9", "kestipdata.ini.backup", ".kestipdata.ini.kest-new-Ab3dE",
                             ".kestipdata.ini.kest-new-Ab3dE9x", ".other.ini.kest-new-Ab3dE9"};
    for (const QString& name : own + QStringList{".kestipdata.ini.kest-new-Ab3dE9"}) {
        QFile other(dir.filePath(name));
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(removeInterruptedSaves(path()), 1);
    QStringList expected = own;
    expected.sort();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), expected);
}

TEST(ProviderTableRows, AppendOverwriteRemoveKeepColumnsAligned)
{
    ProviderTable t;
    for (int i = 0; i < 3; ++i) {
        ProviderRecord r;
        r.name = QString::number(i);
        r.frequency = 11000 + i;
        r.rawCommands[5] = QString("raw%1").arg(i);
        t.append(r);
    }
    t.remove(1);
    t.remove(7);
    ASSERT_EQ(t.size(), 2);
    EXPECT_EQ(t.record(1).frequency, 11002);
    EXPECT_EQ(t.record(1).rawCommands[5], "raw2");
    EXPECT_EQ(t.rawCommands[5].size(), 2);
    EXPECT_EQ(t.gapTime.size(), 2);
    ProviderRecord r;
    r.name = "new";
    t.overwrite(0, r);
    t.overwrite(5, r);
    EXPECT_TRUE(t.record(0) == r);
    EXPECT_EQ(t.record(9).name, "") << "outside the table: defaults";
}
