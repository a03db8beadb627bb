// TransponderChange against the real receiver in another process, on the simulated Spruce:
// what the receiver applied and keeps is read back from the settings it writes at the end.
#include "kestapi/kestapi.h"
#include "platform/winmsg/winmsg.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr const char* kSpruceTitle = "Kest Ip Data 1.04 @ Kest Spruce DVB-S2";

class KestApiProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home_.isValid());
        QDir(home_.path()).mkpath("run");
        QFile::setPermissions(home_.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(home_.path()).mkpath("config/KestGroup");
        QFile settings(settingsPath_);
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[Settings]\nFreqency=12000\nSymbol-Rate=27500\nPolarisation=1\n");
    }
    void TearDown() override { unsetenv("XDG_RUNTIME_DIR"); }

    // Starts the receiver on the simulated Spruce and waits for its window.
    void startReceiver()
    {
        // This process finds the receiver's window where the receiver puts it.
        setenv("XDG_RUNTIME_DIR", home_.filePath("run").toLocal8Bit().constData(), 1);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home_.filePath("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("KEST_CARD", "sim:spruce");
        env.insert("KEST_SATNIC", "none");
        env.insert("KEST_MESSAGEBOX", "stderr");
        env.insert("LC_ALL", "C");
        receiver_.setProcessEnvironment(env);
        receiver_.setWorkingDirectory(home_.path());
        // A file, not a pipe: nobody reads a pipe while the callers run.
        receiver_.setStandardErrorFile(errorsPath_);
        receiver_.start(QString(KEST_BIN_DIR) + "/KestIpData", QStringList());
        ASSERT_TRUE(receiver_.waitForStarted(10000));
        for (int i = 0; i < 400 && !window_ && receiver_.state() == QProcess::Running; ++i) {
            receiver_.waitForFinished(50);
            window_ = FindWindowA(nullptr, kSpruceTitle);
        }
        ASSERT_NE(window_, nullptr) << errors().toStdString();
    }

    // Ends the receiver as a service manager would; its standard error.
    QString stopReceiver()
    {
        receiver_.terminate();
        EXPECT_TRUE(receiver_.waitForFinished(60000));
        EXPECT_EQ(receiver_.exitCode(), 0);
        return errors();
    }

    QString errors() const
    {
        QFile file(errorsPath_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir home_;
    const QString settingsPath_ = home_.filePath("config/KestGroup/Kest-IPData.conf");
    const QString errorsPath_ = home_.filePath("stderr.txt");
    QProcess receiver_;
    HWND window_ = nullptr;
};

TEST_F(KestApiProcess, RetunesTheRunningReceiverAndAddsBothPids)
{
    ASSERT_NO_FATAL_FAILURE(startReceiver());
    HWND window = window_;
    TransponderInfo info{};
    info.frequencyKhz = 11747999;
    info.symbolRate = 22000000;
    info.horizontal = 5;
    info.pid1 = 1234;
    info.pid2 = 4321;
    EXPECT_EQ(TransponderChange(0, &info), 0);
    EXPECT_EQ(TransponderChangeStream(0, &info, 5, KESTAPI_PLS_ROOT, 1024), 0);
    // A code outside the receiver's table is taken and changes nothing.
    DWORD_PTR answer = 99;
    SendMessageTimeoutA(window, WM_USER, 0x1990000, 5555, 0, 5000, &answer);
    EXPECT_EQ(answer, 0u);
    // A polarisation index other than 0 or 1 leaves the selected one (H) as it is.
    for (const LPARAM outOfRange : {LPARAM(2), LPARAM(-1)})
        SendMessageTimeoutA(window, WM_USER, 0x1030000, outOfRange, 0, 5000, &answer);
    SendMessageTimeoutA(window, WM_USER, 0x2000000, 0, 0, 5000, &answer);

    stopReceiver();
    const QSettings saved(settingsPath_, QSettings::IniFormat);
    EXPECT_EQ(saved.value("Settings/Freqency").toString(), "11747") << "the applied frequency";
    EXPECT_EQ(saved.value("Settings/Symbol-Rate").toString(), "22000");
    EXPECT_EQ(saved.value("Settings/Polarisation").toString(), "false") << "H (+18), the first item";
    EXPECT_EQ(saved.value("Settings/ActivePIDs").toString(), "1234\n4321\n");
    EXPECT_EQ(saved.value("Settings/StreamID").toInt(), 5) << "the stream the second call asked for";
    EXPECT_EQ(saved.value("Settings/PLSMode").toInt(), 0);
    EXPECT_EQ(saved.value("Settings/PLSCode").toInt(), 1024);

    EXPECT_EQ(TransponderChange(0, &info), KESTAPI_NO_RECEIVER) << "no receiver any more";
}

// Twenty programs retune at once: every message of every call arrives, and each call says
// so. Each call's frequency is out of range and its PIDs invalid, so every apply and every
// PID message leaves one warning line on the receiver's standard error.
TEST_F(KestApiProcess, TwentyConcurrentCallersLoseNoMessage)
{
    ASSERT_NO_FATAL_FAILURE(startReceiver());
    constexpr int kCallers = 20;
    constexpr int kCalls = 50;
    std::atomic<int> delivered{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < kCallers; ++c)
        callers.emplace_back([&] {
            TransponderInfo info{};
            info.frequencyKhz = 1000; // 1 MHz: outside every band
            info.symbolRate = 27500000;
            info.pid1 = 5;
            info.pid2 = 6;
            for (int i = 0; i < kCalls; ++i)
                if (TransponderChange(0, &info) == KESTAPI_OK)
                    ++delivered;
        });
    for (std::thread& caller : callers)
        caller.join();
    const QString errors = stopReceiver();
    EXPECT_EQ(delivered.load(), kCallers * kCalls);
    EXPECT_EQ(errors.count("Error: Frequency should be from"), kCallers * kCalls) << "tunings lost";
    EXPECT_EQ(errors.count("Error: Invalid PID input!"), 2 * kCallers * kCalls) << "PID messages lost";
}

// A receiver that ends while a call is under way: the call does not claim success.
TEST_F(KestApiProcess, ACallWhoseMessagesDoNotArriveSaysSo)
{
    ASSERT_NO_FATAL_FAILURE(startReceiver());
    // The receiver is stopped, so its window is found but answers nothing; it dies meanwhile.
    ::kill(static_cast<pid_t>(receiver_.processId()), SIGSTOP);
    std::thread killer([pid = receiver_.processId()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    });
    TransponderInfo info{};
    info.frequencyKhz = 11747000;
    info.symbolRate = 22000000;
    EXPECT_EQ(TransponderChange(0, &info), KESTAPI_NOT_DELIVERED);
    killer.join();
    receiver_.waitForFinished(10000);
}

} // namespace
