// KestIpData as a process in a home of its own: settings, runtime directory
// and environment, the program started from build/bin.
#pragma once

#include "tests/support/known_stream.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <vector>


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

    // kestmkts's stream of `datagrams` to the card (02:11:22:33:44:55),
    // multicast and broadcast in turn, on PIDs 256..258.
    bool writeKnownStream(const QString& path, int datagrams, const QStringList& more = {})
    {
        return QProcess::execute(QString(KEST_BIN_DIR) + "/kestmkts",
                                 QStringList{"--count", QString::number(datagrams), "--mac", "02:11:22:33:44:55",
                                             "--multicast", "--broadcast", "--payload", "64:1400"}
                                     + more + QStringList{path})
            == 0;
    }

    // The settings file the receiver starts with: these PIDs, every address, and `more`.
    bool writeSettings(const QByteArray& more = {})
    {
        QDir(home_.path()).mkpath("config/KestGroup");
        QFile settings(home_.filePath("config/KestGroup/Kest-IPData.conf"));
        return settings.open(QIODevice::WriteOnly)
            && settings.write("[Settings]\nActivePIDs=256\\n257\\n258\\n\nMPEFilter=0\n" + more) > 0;
    }

    // `datagrams` known datagrams for the card (02:11:22:33:44:55), multicast and
    // broadcast, played once as fast as the receiver takes them, their PIDs selected
    // in the settings and the frames going to the capture file `pcap`. False when
    // the stream or the settings cannot be written.
    bool playKnownStream(int datagrams, const QString& pcap, teststream::KnownStream* known)
    {
        const tsgen::MacAddress station{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
        *known = teststream::makeKnownStream(station, datagrams);
        const QString stream = home_.filePath("known.ts");
        if (!teststream::writeFile(stream.toStdString(), known->transportStream) || !writeSettings())
            return false;
        env_.insert("KEST_SIM_TS", stream);
        env_.insert("KEST_SIM_LOOP", "0");
        env_.insert("KEST_SIM_RATE", "0");
        env_.insert("KEST_SIM_MAC", "02:11:22:33:44:55");
        env_.insert("KEST_SATNIC", "pcap:" + pcap);
        return true;
    }

    QTemporaryDir home_;
    QProcessEnvironment env_;
};

// The frames of a pcap file so far (the receiver may still be writing it).
inline std::vector<QByteArray> pcapFrames(const QString& path)
{
    std::vector<teststream::Frame> read;
    std::string why;
    teststream::readPcapFrames(path.toStdString(), &read, &why);
    std::vector<QByteArray> frames;
    for (const teststream::Frame& frame : read)
        frames.emplace_back(reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size()));
    return frames;
}
