// macstamp as a process on the simulated card: stamping, exit statuses and messages.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Outcome {
    int status;
    QByteArray out, err;
};

Outcome macstamp(const QString& dir, const QStringList& environment)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KEST_SATNIC", "none");
    for (const QString& entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral(KEST_BIN_DIR "/macstamp"), QStringList());
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
