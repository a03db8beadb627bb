// KestIpData as a process: one instance per user, and the signals that end it.
#include "receiver_process.h"

#include <QCoreApplication>

#include <csignal>

namespace {

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
    const int datagrams = 300;
    ASSERT_TRUE(writeKnownStream(stream, datagrams));
    ASSERT_TRUE(writeSettings());
    const QString pcap = home_.filePath("out.pcap");
    env_.insert("KEST_SIM_TS", stream);
    env_.insert("KEST_SIM_LOOP", "0");
    env_.insert("KEST_SIM_RATE", "0");
    env_.insert("KEST_SIM_MAC", "02:11:22:33:44:55");
    env_.insert("KEST_SATNIC", "pcap:" + pcap);

    QProcess process;
    start(process);
    int frames = 0;
    for (int i = 0; i < 300 && frames < datagrams; ++i) {
        process.waitForFinished(50);
        frames = static_cast<int>(pcapFrames(pcap).size());
    }
    process.terminate();
    expectCleanEnd(process);
    EXPECT_EQ(frames, datagrams) << "every datagram of the stream, none twice";
    QFile saved(home_.filePath("config/KestGroup/Kest-IPData.conf"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("Freqency")) << "the settings were saved at the end";
}

} // namespace
