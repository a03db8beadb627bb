// KestIpData as a process: one instance per user, and the signals that end it.
#include "receiver_process.h"
#include "tests/support/known_stream.h"

#include <QCoreApplication>
#include <QSettings>

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
    const tsgen::MacAddress station{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    const teststream::KnownStream known = teststream::makeKnownStream(station, 800);
    const QString stream = home_.filePath("known.ts");
    ASSERT_TRUE(teststream::writeFile(stream.toStdString(), known.transportStream));
    ASSERT_TRUE(writeSettings());
    const QString pcap = home_.filePath("out.pcap");
    env_.insert("KEST_SIM_TS", stream);
    env_.insert("KEST_SIM_LOOP", "0");
    env_.insert("KEST_SIM_RATE", "0");
    env_.insert("KEST_SIM_MAC", "02:11:22:33:44:55");
    env_.insert("KEST_SATNIC", "pcap:" + pcap);

    QProcess process;
    start(process);
    // Each frame is a 16-byte record header and the frame; wait for all of them.
    const size_t expected = known.expectedFrames.size();
    std::vector<teststream::Frame> frames;
    std::string why;
    for (int i = 0; i < 600 && frames.size() < expected; ++i) {
        process.waitForFinished(50);
        teststream::readPcapFrames(pcap.toStdString(), &frames, &why);
    }
    process.waitForFinished(300); // nothing more may follow
    process.terminate();
    expectCleanEnd(process);
    ASSERT_TRUE(teststream::readPcapFrames(pcap.toStdString(), &frames, &why)) << why;
    EXPECT_EQ(teststream::differences(known.expectedFrames, frames), "")
        << "every datagram for this station, multicast and broadcast, each once";
    QFile saved(home_.filePath("config/KestGroup/Kest-IPData.conf"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("Freqency")) << "the settings were saved at the end";
}

// The window opens where and as large as it was at the last shutdown, or
// maximised: what the start reads from the settings file, the end saves again.
TEST_F(KestIpDataProcess, OpensWithTheGeometrySavedAtTheLastShutdown)
{
    ASSERT_TRUE(writeSettings("[Geometry]\nMainwindowX=100\nMainwindowY=50\nMainwindowWidth=540\n"
                              "MainwindowHeight=640\nMainwindowMaximized=false\n"));
    const QString path = home_.filePath("config/KestGroup/Kest-IPData.conf");
    const auto startAndQuit = [&] {
        QProcess process;
        start(process);
        ASSERT_TRUE(waitUntilListening(process));
        process.terminate();
        expectCleanEnd(process);
    };
    startAndQuit();
    {
        QSettings saved(path, QSettings::IniFormat);
        saved.beginGroup("Geometry");
        EXPECT_EQ(saved.value("MainwindowX").toInt(), 100);
        EXPECT_EQ(saved.value("MainwindowY").toInt(), 50);
        EXPECT_EQ(saved.value("MainwindowWidth").toInt(), 540);
        EXPECT_EQ(saved.value("MainwindowHeight").toInt(), 640);
        EXPECT_FALSE(saved.value("MainwindowMaximized").toBool());
        saved.setValue("MainwindowMaximized", true);
    }
    startAndQuit();
    EXPECT_TRUE(QSettings(path, QSettings::IniFormat).value("Geometry/MainwindowMaximized").toBool());
}

// Without the adapter driver the receiver warns once and runs on, counting nothing.
TEST_F(KestIpDataProcess, WithoutTheAdapterDriverItWarnsOnceAndShowsNoVolume)
{
    ASSERT_TRUE(writeSettings());
    env_.insert("KEST_SIM_RATE", "0");
    env_.insert("KEST_SCREENSHOT_DIR", home_.filePath("shots"));
    env_.insert("KEST_SCREENSHOT_AFTER", "2.5"); // a few status polls
    env_.insert("LC_ALL", "C");
    QProcess process;
    start(process);
    expectCleanEnd(process);
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_EQ(errors.count("Error: Make sure you have installed the Virtual MPE Decoder Adapter Driver."), 1)
        << errors.toStdString();
    QFile tooltip(home_.filePath("shots/C-tooltip.txt"));
    ASSERT_TRUE(tooltip.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(tooltip.readAll());
    EXPECT_TRUE(text.contains("Status: Locked\nIN: 0.000 MB\n")) << text.toStdString();
}

} // namespace
