// KestIpData as a process: one instance per user, and the signals that end it.
#include "receiver_process.h"
#include "tests/support/known_stream.h"

#include "platform/winmsg/winmsg.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSettings>
#include <QTextCodec>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

#include <unistd.h>

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

// Run as a service in Russian: each message box is one line of UTF-8 on stderr, line
// breaks and all, in the user's language.
TEST_F(KestIpDataProcess, HeadlessBoxesInRussianAreOneUtf8LineEach)
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
        env_.remove(name);
    env_.insert("LANG", "ru_RU.UTF-8");
    // The build tree's translations, found as in the working directory of an installed one.
    ASSERT_TRUE(QFile::link(QString(KEST_BIN_DIR) + "/Translations", home_.filePath("Translations")));
    ASSERT_TRUE(writeSettings("Freqency=1\n")); // outside the band: the start-up tuning warns
    ::setenv("XDG_RUNTIME_DIR", home_.filePath("run").toLocal8Bit().constData(), 1);
    QProcess receiver;
    receiver.setStandardErrorFile(home_.filePath("stderr.txt"));
    start(receiver);
    HWND window = nullptr;
    for (int i = 0; i < 400 && !window && receiver.state() == QProcess::Running; ++i) {
        receiver.waitForFinished(50);
        window = FindWindowA(nullptr, "Kest Ip Data 1.04 @ Kest Cedar DVB-S2");
    }
    ASSERT_NE(window, nullptr);
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutA(window, WM_USER, 0x1090000, 5, SMTO_NORMAL, 5000, &result), 0); // PID 5
    ::unsetenv("XDG_RUNTIME_DIR");
    receiver.terminate();
    expectCleanEnd(receiver);

    QFile file(home_.filePath("stderr.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QTextCodec::ConverterState state;
    const QString errors = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    EXPECT_EQ(state.invalidChars, 0) << "not UTF-8:\n" << bytes.constData();
    const QStringList lines = errors.split('\n');
    auto line = [&](const QString& start) {
        const QStringList found = lines.filter(QRegularExpression("^" + QRegularExpression::escape(start)));
        return found.size() == 1 ? found.first() : QString::number(found.size()) + " lines";
    };
    EXPECT_TRUE(line(QString::fromUtf8("Ошибка: Частота должна быть в диапазоне (")).endsWith(QString::fromUtf8(" МГц)")))
        << errors.toStdString();
    EXPECT_TRUE(line(QString::fromUtf8("Ошибка: Неверный PID! ")).contains("21~8190")) << errors.toStdString();
}

// The adapter's 32-bit count wraps every 4 GiB; at full speed the simulated card passes
// that within seconds. The tooltip then still shows the whole volume.
TEST_F(KestIpDataProcess, TooltipVolumeGoesOnPastFourGibibytes)
{
    ASSERT_TRUE(writeKnownStream(home_.filePath("known.ts"), 2000));
    ASSERT_TRUE(writeSettings());
    env_.insert("KEST_SIM_TS", home_.filePath("known.ts"));
    env_.insert("KEST_SIM_RATE", "0");
    env_.insert("KEST_SIM_MAC", "02:11:22:33:44:55");
    env_.insert("KEST_SATNIC", "null");
    env_.insert("KEST_SCREENSHOT_DIR", home_.filePath("shots"));
    env_.insert("KEST_SCREENSHOT_AFTER", "20");
    env_.insert("LC_ALL", "C");
    QProcess process;
    start(process);
    ASSERT_TRUE(process.waitForFinished(60000));
    QFile tooltip(home_.filePath("shots/C-tooltip.txt"));
    ASSERT_TRUE(tooltip.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(tooltip.readAll());
    const QRegularExpressionMatch values =
        QRegularExpression("\nIN: ([0-9.]+) MB\nAR: ([0-9]+) kbit/s").match(text);
    ASSERT_TRUE(values.hasMatch()) << text.toStdString();
    const double megabytes = values.captured(1).toDouble();
    const double average = values.captured(2).toDouble(); // kbit/s over the non-zero polls
    // Twelve of the twenty polls at that average at least: what must have passed.
    const double passed = average * 128 * 12;
    if (passed < 4.6e9 && megabytes < 4096)
        GTEST_SKIP() << "this machine passed too little to wrap the count: " << text.toStdString();
    EXPECT_GE(megabytes * 1048576, 4294967296.0) << text.toStdString();
}

int openDescriptors(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
        .size();
}

// Boxes are real here (offscreen, nobody answers them): the first message that
// opens one holds back the others, and the signals still end the program.
TEST_F(KestIpDataProcess, AFloodOfMessagesWaitsBehindTheBoxOneOpenedAndTerminateStillEnds)
{
    env_.remove("KEST_MESSAGEBOX");
    env_.insert("KEST_SATNIC", "pcap:" + home_.filePath("out.pcap")); // no warning box at start
    ASSERT_TRUE(writeSettings());
    ::setenv("XDG_RUNTIME_DIR", home_.filePath("run").toLocal8Bit().constData(), 1);
    QProcess receiver;
    start(receiver);
    HWND window = nullptr;
    for (int i = 0; i < 400 && !window && receiver.state() == QProcess::Running; ++i) {
        receiver.waitForFinished(50);
        window = FindWindowA(nullptr, "Kest Ip Data 1.04 @ Kest Cedar DVB-S2");
    }
    ASSERT_NE(window, nullptr) << receiver.readAllStandardError().constData();

    // Each apply of a frequency outside the window opens the warning box.
    std::atomic<int> answered{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 8; ++t)
        senders.emplace_back([&] {
            for (int i = 0; i < 60; ++i) {
                DWORD_PTR result = 0;
                answered += SendMessageTimeoutA(window, WM_USER, 0x1010000, 99999, SMTO_NORMAL, 20, &result) != 0;
                answered += SendMessageTimeoutA(window, WM_USER, 0x2000000, 0, SMTO_NORMAL, 20, &result) != 0;
            }
        });
    for (std::thread& sender : senders)
        sender.join();
    ::unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(receiver.state(), QProcess::Running);
    EXPECT_LT(answered, 40) << "messages went on being handled under the open box";
    EXPECT_LT(openDescriptors(receiver.processId()), 100) << "connections pile up";

    QElapsedTimer timer;
    timer.start();
    receiver.terminate();
    expectCleanEnd(receiver);
    EXPECT_LT(timer.elapsed(), 5000) << "SIGTERM ends the program late while a box is open";
    QFile saved(home_.filePath("config/KestGroup/Kest-IPData.conf"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("Freqency=12562")) << "the settings were saved, the rejected tuning not";
}

// A box of the bring-up (here: no adapter driver) is open when SIGINT comes.
TEST_F(KestIpDataProcess, InterruptEndsTheProgramWhileABoxOfTheStartWaits)
{
    env_.remove("KEST_MESSAGEBOX");
    ASSERT_TRUE(writeSettings());
    QProcess process;
    start(process);
    ASSERT_TRUE(waitUntilListening(process));
    process.waitForFinished(1500); // the form is being made; its warning box opens
    ASSERT_EQ(process.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    expectCleanEnd(process);
    QFile saved(home_.filePath("config/KestGroup/Kest-IPData.conf"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("Freqency")) << "ended through the normal shutdown";
}

// Without XDG_RUNTIME_DIR the window messages fall back to /tmp, where another
// user may have made the folder first. Each run gets a /tmp and a /run/user of
// its own (a mount namespace), so the host's stay untouched; the program's
// folder, which may lie below either, is bound into the new /run/user first.
TEST_F(KestIpDataProcess, AMessageFolderOfAnotherUserIsNeverTakenForARunningCopy)
{
    if (::geteuid() != 0 || QProcess::execute("unshare", {"--mount", "true"}) != 0)
        GTEST_SKIP() << "needs root and mount namespaces";
    env_.remove("XDG_RUNTIME_DIR");
    env_.insert("XDG_CONFIG_HOME", "/run/user/kest-test/config");
    env_.insert("KEST_SCREENSHOT_DIR", "/run/user/kest-test/shots"); // quits after starting
    auto run = [&](const QString& prepare, int* exitCode) {
        const QString script = "exec 3<\"$0\" && mount -t tmpfs kest /run/user && mkdir -p /run/user/kest-test/bin"
                               " && mount --no-canonicalize --bind /proc/self/fd/3 /run/user/kest-test/bin"
                               " && exec 3<&- && mount -t tmpfs kest /tmp"
                               " && cd /run/user/kest-test && uid=$(id -u) && "
            + prepare + " && exec /run/user/kest-test/bin/KestIpData";
        QProcess process;
        process.setProcessEnvironment(env_);
        process.start("unshare", {"--mount", "--propagation", "private", "sh", "-c", script, QString(KEST_BIN_DIR)});
        EXPECT_TRUE(process.waitForFinished(20000));
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1000;
        return QString::fromLocal8Bit(process.readAllStandardError());
    };
    int code = 0;
    QString errors = run("mkdir /tmp/kest-windows-$uid && chown 65534 /tmp/kest-windows-$uid", &code);
    EXPECT_EQ(code, 255) << errors.toStdString();
    EXPECT_FALSE(errors.contains("already running")) << errors.toStdString();
    EXPECT_TRUE(errors.contains("Fatal error: Window messages cannot be received: /tmp/kest-windows-0 belongs to "
                                "another user."))
        << errors.toStdString();

    errors = run("mkdir -m 700 mine && ln -s /run/user/kest-test/mine /tmp/kest-windows-$uid", &code);
    EXPECT_EQ(code, 255) << errors.toStdString();
    EXPECT_TRUE(errors.contains("/tmp/kest-windows-0 is a symbolic link")) << errors.toStdString();

    // The user's runtime folder, when it exists, is used before /tmp.
    errors = run("mkdir /tmp/kest-windows-$uid && chown 65534 /tmp/kest-windows-$uid"
                 " && mkdir -m 700 /run/user/$uid",
                 &code);
    EXPECT_EQ(code, 0) << errors.toStdString();
    EXPECT_FALSE(errors.contains("already running")) << errors.toStdString();
}

// Files QSettings cannot parse (NUL and other binary bytes, a 10 MB line, a
// broken group) would make it refuse every save of the run.
TEST_F(KestIpDataProcess, AnUnreadableSettingsFileIsMovedAsideReportedOnceAndSavesWork)
{
    const QDir folder(home_.filePath("config/KestGroup"));
    folder.mkpath(".");
    QByteArray broken("[Settings]\nFreqency=12000\n");
    broken += QByteArray("\0\0binary\xff\x01\n", 12) + QByteArray(10 << 20, 'x') + "\n";
    QFile settings(folder.filePath("Kest-IPData.conf"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(broken);
    settings.close();
    QFile driver(folder.filePath("SatNic.conf"));
    ASSERT_TRUE(driver.open(QIODevice::WriteOnly));
    driver.write("[DriverData\ndwMAC_HIGH=1\n");
    driver.close();

    auto runOnce = [&] {
        QProcess process;
        start(process);
        EXPECT_TRUE(waitUntilListening(process));
        process.terminate();
        expectCleanEnd(process);
        return QString::fromLocal8Bit(process.readAllStandardError());
    };
    const QString errors = runOnce();
    EXPECT_EQ(errors.count(QRegularExpression("Error: The settings file \\S+/Kest-IPData.conf cannot be read. "
                                              "It was moved to \\S+/Kest-IPData.conf.unreadable-\\d{8}-\\d{6}, and "
                                              "the program starts with the default settings.")),
              1)
        << errors.toStdString();
    EXPECT_EQ(errors.count("SatNic.conf cannot be read"), 1) << errors.toStdString();

    const QStringList aside = folder.entryList({"Kest-IPData.conf.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1) << folder.entryList().join(' ').toStdString();
    QFile kept(folder.filePath(aside.first()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_TRUE(kept.readAll() == broken) << "the unreadable file is kept whole";
    EXPECT_EQ(folder.entryList({"SatNic.conf.unreadable-*"}, QDir::Files).size(), 1);
    const QSettings saved(folder.filePath("Kest-IPData.conf"), QSettings::IniFormat);
    EXPECT_EQ(saved.status(), QSettings::NoError);
    EXPECT_EQ(saved.value("Settings/Freqency").toString(), "12562") << "started from the defaults and saved";
    EXPECT_TRUE(QSettings(folder.filePath("SatNic.conf"), QSettings::IniFormat).contains("DriverData/dwMAC_LOW"));

    EXPECT_FALSE(runOnce().contains("cannot be read")) << "said once";
}

// Names the user gave files beside the settings and the presets are theirs,
// however much they look like a save's temporary file.
TEST_F(KestIpDataProcess, TheUsersOwnFilesBesideTheSettingsAndPresetsSurviveARun)
{
    ASSERT_TRUE(writeSettings());
    const QStringList own = {"config/KestGroup/Kest-IPData.conf.backup", "config/KestGroup/SatNic.conf.backup",
                             "kestipdata.ini.backup", "config/KestGroup/Kest-IPData.conf.a1B2c3.lock"};
    for (const QString& name : own) {
        QFile file(home_.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("mine");
    }
    QProcess process;
    start(process);
    ASSERT_TRUE(waitUntilListening(process));
    process.terminate();
    expectCleanEnd(process);
    for (const QString& name : own) {
        QFile file(home_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll() == "mine") << name.toStdString();
    }
}

// Where the settings cannot be saved the user hears it once when the program
// starts and once when the save fails at its end, which exits with 1.
TEST_F(KestIpDataProcess, SettingsThatCannotBeSavedAreToldAtStartAndWhenTheSaveFails)
{
    env_.insert("KEST_DEBUG", "1");
    const QString folder = home_.filePath("config/KestGroup");
    const auto makeFile = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("[Settings]\n") > 0;
    };
    struct Case {
        const char* what;
        std::function<bool()> prepare;
    };
    std::vector<Case> cases = {
        {"the settings file is a folder", [&] { return QDir().mkpath(folder + "/Kest-IPData.conf"); }},
        {"the folder is a file", [&] { return QDir().mkpath(home_.filePath("config")) && makeFile(folder); }},
    };
    if (::geteuid() != 0) { // root writes whatever the permissions say
        cases.push_back({"the file is read-only", [&] {
                             return QDir().mkpath(folder) && makeFile(folder + "/Kest-IPData.conf")
                                 && QFile::setPermissions(folder + "/Kest-IPData.conf", QFile::ReadOwner);
                         }});
        cases.push_back({"the folder is read-only", [&] {
                             return QDir().mkpath(folder)
                                 && QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
                         }});
    }
    for (const Case& c : cases) {
        QProcess::execute("chmod", {"-R", "u+rwx", home_.filePath("config")});
        QDir(home_.filePath("config")).removeRecursively();
        ASSERT_TRUE(c.prepare()) << c.what;
        QProcess process;
        start(process);
        ASSERT_TRUE(waitUntilListening(process)) << c.what;
        process.terminate();
        ASSERT_TRUE(process.waitForFinished(20000)) << c.what;
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), 1) << c.what << "\n" << errors.toStdString();
        EXPECT_EQ(errors.count("Error: The settings cannot be saved"), 1) << c.what << "\n" << errors.toStdString();
        EXPECT_EQ(errors.count("Error: The settings could not be saved"), 1) << c.what << "\n" << errors.toStdString();
        EXPECT_EQ(errors.count("SettingsStore: cannot save "), 1) << c.what << "\n" << errors.toStdString();
        EXPECT_EQ(errors.count("SettingsStore: save failed: "), 1) << c.what << "\n" << errors.toStdString();
    }
    QProcess::execute("chmod", {"-R", "u+rwx", home_.filePath("config")});
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
    const QString pcap = home_.filePath("out.pcap");
    teststream::KnownStream known;
    ASSERT_TRUE(playKnownStream(800, pcap, &known));

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

// The capture file's disk fills up under the receiver: the debug output says so once when
// frames start being lost and once, with their number, when it ends; not once per frame.
TEST_F(KestIpDataProcess, FullDiskIsToldOncePerEpisodeInTheDebugOutput)
{
    if (::geteuid() != 0 || QProcess::execute("sh", {"-c", "command -v unshare >/dev/null"}) != 0)
        GTEST_SKIP() << "needs root and unshare for a small file system of its own";
    ASSERT_TRUE(QDir(home_.path()).mkpath("small"));
    const QString pcap = home_.filePath("small/out.pcap");
    teststream::KnownStream known;
    ASSERT_TRUE(playKnownStream(800, pcap, &known));
    env_.insert("KEST_DEBUG", "1");

    // A 64 KiB file system in a private mount namespace: gone with the process.
    QProcess process;
    process.setProcessEnvironment(env_);
    process.setWorkingDirectory(home_.path());
    process.start("unshare", {"-m", "sh", "-c",
                              "mount -t tmpfs -o size=64k kest '" + home_.filePath("small") + "' && exec '"
                                  + QString(KEST_BIN_DIR) + "/KestIpData'"});
    ASSERT_TRUE(process.waitForStarted(10000));
    QByteArray errors;
    const QByteArray began = "SatNic: pcap file " + pcap.toUtf8() + " refuses frames (No space left on device)";
    for (int i = 0; i < 400 && !errors.contains(began); ++i) {
        process.waitForFinished(50);
        errors += process.readAllStandardError();
    }
    process.waitForFinished(1000); // the rest of the stream is lost too
    process.terminate();
    expectCleanEnd(process);
    errors += process.readAllStandardError();
    EXPECT_EQ(errors.count(began), 1) << errors.constData();
    EXPECT_EQ(errors.count("refuses frames"), 1) << errors.constData();
    EXPECT_EQ(errors.count("SatNic: pcap file " + pcap.toUtf8() + " closed; "), 1) << errors.constData();
}

// A stream file that can never deliver a byte is named once, not met with silence.
TEST_F(KestIpDataProcess, UnplayableStreamFileIsNamedOnce)
{
    ASSERT_TRUE(writeSettings());
    QFile(home_.filePath("empty.ts")).open(QIODevice::WriteOnly);
    env_.insert("KEST_SIM_RATE", "0");
    env_.insert("KEST_SCREENSHOT_DIR", home_.filePath("shots"));
    env_.insert("KEST_SCREENSHOT_AFTER", "2.5"); // a few status polls, and a retune or two
    for (const auto& [file, why] : {std::pair{home_.path(), "it is a directory"},
                                    std::pair{home_.filePath("empty.ts"), "the file is empty"}}) {
        env_.insert("KEST_SIM_TS", file);
        QProcess process;
        start(process);
        expectCleanEnd(process);
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_EQ(errors.count(file + ": " + why), 1) << errors.toStdString();
    }
}

} // namespace
