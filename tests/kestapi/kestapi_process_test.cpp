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

#include <cstdlib>

namespace {

constexpr const char* kSpruceTitle = "Kest Ip Data 1.04 @ Kest Spruce DVB-S2";

TEST(KestApiProcess, RetunesTheRunningReceiverAndAddsBothPids)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QDir(home.path()).mkpath("run");
    QFile::setPermissions(home.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir(home.path()).mkpath("config/KestGroup");
    const QString settingsPath = home.filePath("config/KestGroup/Kest-IPData.conf");
    {
        QFile settings(settingsPath);
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[Settings]\nFreqency=12000\nSymbol-Rate=27500\nPolarisation=1\n");
    }
    // This process finds the receiver's window where the receiver puts it.
    setenv("XDG_RUNTIME_DIR", home.filePath("run").toLocal8Bit().constData(), 1);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KEST_CARD", "sim:spruce");
    env.insert("KEST_SATNIC", "none");
    env.insert("KEST_MESSAGEBOX", "stderr");
    QProcess receiver;
    receiver.setProcessEnvironment(env);
    receiver.setWorkingDirectory(home.path());
    receiver.start(QString(KEST_BIN_DIR) + "/KestIpData", QStringList());
    ASSERT_TRUE(receiver.waitForStarted(10000));
    HWND window = nullptr;
    for (int i = 0; i < 400 && !window && receiver.state() == QProcess::Running; ++i) {
        receiver.waitForFinished(50);
        window = FindWindowA(nullptr, kSpruceTitle);
    }
    ASSERT_NE(window, nullptr) << receiver.readAllStandardError().constData();

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

    receiver.terminate();
    ASSERT_TRUE(receiver.waitForFinished(20000));
    EXPECT_EQ(receiver.exitCode(), 0) << receiver.readAllStandardError().constData();
    const QSettings saved(settingsPath, QSettings::IniFormat);
    EXPECT_EQ(saved.value("Settings/Freqency").toString(), "11747") << "the applied frequency";
    EXPECT_EQ(saved.value("Settings/Symbol-Rate").toString(), "22000");
    EXPECT_EQ(saved.value("Settings/Polarisation").toString(), "false") << "H (+18), the first item";
    EXPECT_EQ(saved.value("Settings/ActivePIDs").toString(), "1234\n4321\n");
    EXPECT_EQ(saved.value("Settings/StreamID").toInt(), 5) << "the stream the second call asked for";
    EXPECT_EQ(saved.value("Settings/PLSMode").toInt(), 0);
    EXPECT_EQ(saved.value("Settings/PLSCode").toInt(), 1024);

    EXPECT_EQ(TransponderChange(0, &info), KESTAPI_NO_RECEIVER) << "no receiver any more";
    unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
