// KestIpData as a process: one instance per user, and the signals that end it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace {

class KestIpDataProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home_.isValid());
        QDir(home_.path()).mkpath("run");
        QFile::setPermissions(home_.filePath("run"), QFile::ReadOwner | QFile::WriteOwner
                                                         | QFile::ExeOwner);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("XDG_RUNTIME_DIR", home_.filePath("run"));
        env_.insert("XDG_CONFIG_HOME", home_.filePath("config"));
        env_.insert("QT_QPA_PLATFORM", "offscreen");
        env_.insert("KEST_CARD", "sim:cedar");
        env_.insert("KEST_SATNIC", "none");
        env_.insert("KEST_MESSAGEBOX", "stderr");
        env_.remove("KEST_SCREENSHOT_DIR");
    }

    void start(QProcess& process)
    {
        process.setProcessEnvironment(env_);
        process.setWorkingDirectory(home_.path());
        process.start(QString(KEST_BIN_DIR) + "/KestIpData", QStringList());
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    // Runs a second copy to its end; its stderr.
    QString secondStart(int* exitCode)
    {
        QProcess second;
        start(second);
        EXPECT_TRUE(second.waitForFinished(20000));
        *exitCode = second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1000;
        return QString::fromLocal8Bit(second.readAllStandardError());
    }

    // Waits until the first copy's listener exists (its socket file).
    bool waitUntilListening(QProcess& first)
    {
        const QDir windows(home_.filePath("run/kest-windows"));
        for (int i = 0; i < 400 && first.state() == QProcess::Running; ++i) {
            if (!windows.entryList({"*.sock"}, QDir::System).isEmpty())
                return true;
            first.waitForFinished(50);
        }
        return false;
    }

    void expectCleanEnd(QProcess& process)
    {
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    }

    QTemporaryDir home_;
    QProcessEnvironment env_;
};

TEST_F(KestIpDataProcess, SecondStartEndsWithZeroAndTerminateQuitsTheFirst)
{
    QProcess first;
    start(first);
    ASSERT_TRUE(waitUntilListening(first));
    int code = -1;
    EXPECT_TRUE(secondStart(&code).contains("Kest-IPData is already running"));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(first.state(), QProcess::Running) << "the running copy is left alone";
    first.terminate();   // SIGTERM
    expectCleanEnd(first);
}

TEST_F(KestIpDataProcess, InterruptQuitsLikeTheTrayMenu)
{
    QProcess first;
    start(first);
    ASSERT_TRUE(waitUntilListening(first));
    ::kill(static_cast<pid_t>(first.processId()), SIGINT);
    expectCleanEnd(first);
}

TEST_F(KestIpDataProcess, NoCardIsFatalAndWritesNoSettings)
{
    env_.insert("KEST_CARD", "none");
    QProcess process;
    start(process);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 255);
    EXPECT_TRUE(process.readAllStandardError().contains("Fatal error: Kest devices not found"));
    EXPECT_FALSE(QFile::exists(home_.filePath("config/KestGroup/Kest-IPData.conf")));
}

// The receiver end to end: a stream of known datagrams from the simulated card,
// PIDs and the address mode from the settings, frames into a capture file.
TEST_F(KestIpDataProcess, DeliversTheStreamsDatagramsToTheAdapter)
{
    const QString stream = home_.filePath("known.ts");
    const int datagrams = 300; // to the card, multicast and broadcast in turn
    ASSERT_EQ(QProcess::execute(QString(KEST_BIN_DIR) + "/kestmkts",
                                {"--count", QString::number(datagrams), "--mac", "02:11:22:33:44:55", "--multicast",
                                 "--broadcast", "--payload", "64:1400", stream}),
              0);
    QDir(home_.path()).mkpath("config/KestGroup");
    QFile settings(home_.filePath("config/KestGroup/Kest-IPData.conf"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[Settings]\nActivePIDs=256\\n257\\n258\\n\nMPEFilter=0\n");
    settings.close();
    const QString pcap = home_.filePath("out.pcap");
    env_.insert("KEST_SIM_TS", stream);
    env_.insert("KEST_SIM_LOOP", "0");
    env_.insert("KEST_SIM_RATE", "0");
    env_.insert("KEST_SIM_MAC", "02:11:22:33:44:55");
    env_.insert("KEST_SATNIC", "pcap:" + pcap);

    QProcess process;
    start(process);
    // Each frame is a 16-byte record header and the frame; wait for all of them.
    int frames = 0;
    for (int i = 0; i < 300 && frames < datagrams; ++i) {
        process.waitForFinished(50);
        QFile f(pcap);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = f.readAll();
        frames = 0;
        for (int at = 24; at + 16 <= bytes.size(); ++frames) {
            const quint32 length = quint8(bytes[at + 8]) | quint8(bytes[at + 9]) << 8 | quint8(bytes[at + 10]) << 16
                | quint32(quint8(bytes[at + 11])) << 24;
            at += 16 + static_cast<int>(length);
        }
    }
    process.terminate();
    expectCleanEnd(process);
    EXPECT_EQ(frames, datagrams) << "every datagram of the stream, none twice";
    QFile saved(home_.filePath("config/KestGroup/Kest-IPData.conf"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("Freqency")) << "the settings were saved at the end";
}

} // namespace
