// macstamp as a process on the simulated card: stamping, exit statuses and messages.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Outcome {
    int status;
    QByteArray out, err;
};

// Runs as user 65534 where this test runs as root (to whom no folder is
// read-only); `asOther` is then ignored otherwise.
Outcome macstamp(const QString& dir, const QStringList& environment, bool asOther = false)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KEST_SATNIC", "none");
    for (const QString& entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    const QString program = QStringLiteral(KEST_BIN_DIR "/macstamp");
    if (asOther && ::geteuid() == 0) {
        // A copy beside the test's files: the build may lie where that user cannot go.
        const QString copy = dir + "/macstamp-copy";
        QFile::remove(copy);
        EXPECT_TRUE(QFile::copy(program, copy));
        p.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", copy});
    } else
        p.start(program, QStringList());
    // A run that does not end, or ends by a crash, has no exit status to compare.
    if (!p.waitForFinished(30000)) {
        ADD_FAILURE() << "macstamp did not finish within 30 s: " << p.errorString().toStdString();
        p.kill();
        p.waitForFinished();
        return {-1, p.readAllStandardOutput(), p.readAllStandardError()};
    }
    if (p.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "macstamp crashed: " << p.errorString().toStdString() << "\n"
                      << p.readAllStandardError().constData();
        return {-1, p.readAllStandardOutput(), p.readAllStandardError()};
    }
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

// A folder with SatNicDrv/SatNic.inf as shipped; the file's path.
QString shippedInf(const QTemporaryDir& dir)
{
    QDir(dir.path()).mkpath("SatNicDrv");
    const QString inf = dir.filePath("SatNicDrv/SatNic.inf");
    EXPECT_TRUE(QFile::copy(QStringLiteral(KEST_SOURCE_DIR "/SatNicDrv/SatNic.inf"), inf));
    QFile::setPermissions(inf, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    return inf;
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(MacStampProcess, StampsTheCardsAddressAndTellsWhetherTheDriverIsInstalled)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("SatNicDrv");
    const QString inf = dir.filePath("SatNicDrv/SatNic.inf");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KEST_SOURCE_DIR "/SatNicDrv/SatNic.inf"), inf));

    Outcome r = macstamp(dir.path(), {"KEST_CARD=sim:cedar", "KEST_SIM_MAC=00:1a:2b:3c:4d:5e"});
    EXPECT_EQ(r.status, 0) << r.err.constData();
    QFile f(inf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray stamped = f.readAll();
    EXPECT_TRUE(stamped.contains("00-1A-2B-3C-4D-5E"));
    EXPECT_FALSE(stamped.contains("00-C2-B0-30-03-E0"));

    r = macstamp(dir.path(), {"KEST_CARD=sim:cedar", "KEST_SATNIC=null"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Virtual MPE Decoder Adapter Driver already installed\n");

    r = macstamp(dir.path(), {"KEST_CARD=sim:spruce"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(r.err.contains("macstamp error: Kest devices not found\n"));

    QTemporaryDir empty;
    r = macstamp(empty.path(), {"KEST_CARD=sim:maple"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(r.err.contains("macstamp error: Cannot open file 'SatNic.inf': No such file or directory\n"));
}

TEST(MacStampProcess, StampsALinuxDvbCardsConfiguredOrDerivedAddress)
{
    // The INF as shipped, stamped by one run on the fake adapter 9 as a Birch.
    auto stamp = [](const QString& mac) {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath("SatNicDrv");
        const QString inf = dir.filePath("SatNicDrv/SatNic.inf");
        QFile::copy(QStringLiteral(KEST_SOURCE_DIR "/SatNicDrv/SatNic.inf"), inf);
        QFile::setPermissions(inf, QFile::ReadOwner | QFile::WriteOwner);
        const Outcome r = macstamp(dir.path(), {"KEST_CARD=dvb:9:0:birch", QStringLiteral("LD_PRELOAD=" KEST_FAKE_DVB),
                                                "KEST_DVB_MAC=" + mac});
        EXPECT_EQ(r.status, 0) << r.err.constData();
        QFile f(inf);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    EXPECT_TRUE(stamp("02:11:22:33:44:55").contains("02-11-22-33-44-55"));
    const QByteArray derived = stamp("");
    EXPECT_FALSE(derived.contains("02-11-22-33-44-55"));
    EXPECT_FALSE(derived.contains("00-C2-B0-30-03-E0"));
    EXPECT_TRUE(derived.contains("02-")) << "a locally administered address: " << derived.constData();
    EXPECT_EQ(stamp(""), derived) << "the same on every start";
}

// Asking whether the adapter is installed opens nothing for writing: the
// capture a running receiver writes stays as it is.
TEST(MacStampProcess, AskingAboutACaptureFileAdapterLeavesTheCaptureAlone)
{
    QTemporaryDir dir;
    shippedInf(dir);
    const QString capture = dir.filePath("running.pcap");
    const QByteArray frames(108024, '\x5a');
    QFile f(capture);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(frames);
    f.close();
    const Outcome r = macstamp(dir.path(), {"KEST_CARD=sim:cedar", "KEST_SATNIC=pcap:" + capture});
    EXPECT_EQ(r.status, 1) << r.err.constData();
    EXPECT_EQ(r.out, "Virtual MPE Decoder Adapter Driver already installed\n");
    EXPECT_TRUE(contents(capture) == frames) << "now " << QFileInfo(capture).size() << " bytes";

    const QString fresh = dir.filePath("fresh.pcap");
    EXPECT_EQ(macstamp(dir.path(), {"KEST_CARD=sim:cedar", "KEST_SATNIC=pcap:" + fresh}).status, 1);
    EXPECT_FALSE(QFileInfo::exists(fresh)) << "nothing is created by asking";
}

// A link or a folder in place of the file is refused with the reason, and
// whatever the link points at stays untouched; as root, a file of another
// user is stamped but stays that user's.
TEST(MacStampProcess, OnlyARegularFileIsStampedAndItKeepsItsOwner)
{
    QTemporaryDir dir;
    const QString inf = shippedInf(dir);
    const QByteArray shipped = contents(inf);
    const QString target = dir.filePath("elsewhere.txt");
    ASSERT_TRUE(QFile::rename(inf, target));
    ASSERT_TRUE(QFile::link(target, inf));
    Outcome r = macstamp(dir.path(), {"KEST_CARD=sim:cedar"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "macstamp error: Cannot open file 'SatNic.inf': Too many levels of symbolic links\n");
    EXPECT_TRUE(contents(target) == shipped) << "the link's target is left alone";
    EXPECT_TRUE(QFileInfo(inf).isSymLink());

    ASSERT_TRUE(QFile::remove(inf));
    ASSERT_TRUE(QDir(dir.path()).mkpath("SatNicDrv/SatNic.inf"));
    r = macstamp(dir.path(), {"KEST_CARD=sim:cedar"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "macstamp error: Cannot open file 'SatNic.inf': Is a directory\n");

    if (::geteuid() != 0)
        return;
    ASSERT_TRUE(QDir(inf).removeRecursively());
    ASSERT_TRUE(QFile::rename(target, inf));
    ASSERT_EQ(::chown(QFile::encodeName(inf).constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(inf).constData(), 0640), 0);
    r = macstamp(dir.path(), {"KEST_CARD=sim:cedar", "KEST_SIM_MAC=00:1a:2b:3c:4d:5e"});
    EXPECT_EQ(r.status, 0) << r.err.constData();
    EXPECT_TRUE(contents(inf).contains("00-1A-2B-3C-4D-5E"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(inf).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// An address the environment gives that is none must not be replaced by
// another one in the file.
TEST(MacStampProcess, AMalformedCardAddressFailsAndStampsNothing)
{
    QTemporaryDir dir;
    const QString inf = shippedInf(dir);
    const QByteArray shipped = contents(inf);
    for (const char* variable : {"KEST_SIM_MAC", "KEST_DVB_MAC"}) {
        for (const char* value : {"02:11:22:33:44", "02:11:22:33:44:5g", "02:11:22:33:44: 5", " "}) {
            const QString setting = QString::fromLatin1(variable) + '=' + value;
            const Outcome r = macstamp(dir.path(), {"KEST_CARD=sim:cedar", setting});
            EXPECT_EQ(r.status, 255) << setting.toStdString();
            EXPECT_TRUE(r.err.startsWith("macstamp error: " + setting.toUtf8()))
                << setting.toStdString() << ": " << r.err.constData();
            EXPECT_TRUE(contents(inf) == shipped) << setting.toStdString();
        }
    }
}

// The folder takes no new file, the file itself may be written: it is
// stamped where it is.
TEST(MacStampProcess, AWritableFileInAFolderThatTakesNoNewFileIsStampedInPlace)
{
    QTemporaryDir dir;
    const QString inf = shippedInf(dir);
    const QString folder = dir.filePath("SatNicDrv");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        ASSERT_EQ(::chown(QFile::encodeName(inf).constData(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    const Outcome r = macstamp(dir.path(), {"KEST_CARD=sim:cedar", "KEST_SIM_MAC=00:1a:2b:3c:4d:5e"}, true);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_EQ(r.status, 0) << r.err.constData();
    EXPECT_TRUE(contents(inf).contains("00-1A-2B-3C-4D-5E"));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"SatNic.inf"});
}
