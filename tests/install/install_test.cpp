// The installed program: cmake --install into a temporary prefix, the installed
// receiver started from another working directory and through its launcher, the
// desktop files validated, the adapter unit run, and the Debian package.
#include "tests/app/receiver_process.h"

#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QStandardPaths>

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace {

const QString kAppId = QStringLiteral(KEST_APP_ID);

struct Result {
    int status = -1; // -1: could not run or did not end
    QString output;  // standard output and error
};

Result runProgram(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(), int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Result run;
    if (process.waitForStarted(10000) && process.waitForFinished(timeoutMs)
        && process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

Result runShell(const QString& command, int timeoutMs = 60000)
{
    return runProgram("/bin/sh", {"-c", command}, QProcessEnvironment::systemEnvironment(), timeoutMs);
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The value of the first line "KEY=..." of a desktop entry or unit file.
QString keyValue(const QString& text, const QString& key)
{
    const QRegularExpression line("^" + QRegularExpression::escape(key) + "=(.*)$",
                                  QRegularExpression::MultilineOption);
    return line.match(text).captured(1);
}

class InstalledProgram : public KestIpDataProcess {
protected:
    void SetUp() override
    {
        KestIpDataProcess::SetUp();
        prefix_ = home_.filePath("prefix");
        const Result install = runProgram(KEST_CMAKE_COMMAND, {"--install", KEST_BUILD_DIR, "--prefix", prefix_});
        ASSERT_EQ(install.status, 0) << install.output.toStdString();
        workdir_ = home_.filePath("work");
        QDir().mkpath(workdir_);
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
            env_.remove(name);
        env_.insert("LANG", "C");
        env_.insert("HOME", home_.path());
    }

    QString installed(const QString& path) const { return prefix_ + "/" + path; }

    void startIn(QProcess& process, const QString& program, const QString& dir)
    {
        process.setProcessEnvironment(env_);
        process.setWorkingDirectory(dir);
        process.start(program, QStringList());
        ASSERT_TRUE(process.waitForStarted(10000)) << program.toStdString();
    }

    // Runs the installed receiver until it has saved its screenshots; its stderr.
    QString runBriefly(const QString& dir)
    {
        env_.insert("KEST_SCREENSHOT_DIR", home_.filePath("shots"));
        QProcess process;
        startIn(process, installed("bin/KestIpData"), dir);
        expectCleanEnd(process);
        env_.remove("KEST_SCREENSHOT_DIR");
        return QString::fromLocal8Bit(process.readAllStandardError());
    }

    // Waits while the receiver runs until `done` holds.
    template <typename Done>
    bool waitFor(QProcess& process, Done done)
    {
        for (int i = 0; i < 600; ++i) {
            if (done())
                return true;
            if (process.state() != QProcess::Running)
                return false;
            process.waitForFinished(50);
        }
        return done();
    }

    QString prefix_;
    QString workdir_;
};

TEST_F(InstalledProgram, InstallsEveryPartWithPathsOfItsPrefix)
{
    const QString lib = KEST_INSTALL_LIBDIR, data = KEST_INSTALL_DATADIR, libexec = KEST_INSTALL_LIBEXECDIR;
    const QStringList files = {
        "bin/KestIpData", "bin/kestdecode", "bin/macstamp",
        lib + "/libkestapi.so", lib + "/libkestapi.so.1", lib + "/pkgconfig/kestapi.pc",
        KEST_INSTALL_INCLUDEDIR "/kestapi/kestapi.h",
        data + "/kestipdata/Translations/KestIPData_ru.qm", data + "/kestipdata/SatNicDrv/SatNic.inf",
        libexec + "/kestipdata/install-satnic", libexec + "/kestipdata/kestipdata-start",
        data + "/applications/" + kAppId + ".desktop", data + "/metainfo/" + kAppId + ".metainfo.xml",
        KEST_INSTALL_MANDIR "/man1/KestIpData.1.gz", KEST_INSTALL_MANDIR "/man1/kestdecode.1.gz",
        KEST_INSTALL_MANDIR "/man1/macstamp.1.gz",
        "lib/systemd/system/kestipdata-satnic@.service", "lib/systemd/user/kestipdata.service",
        "lib/systemd/user/kestipdata@.service",
    };
    for (const QString& file : files)
        EXPECT_TRUE(QFileInfo::exists(installed(file))) << file.toStdString();
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString icon = installed(QStringLiteral("%1/icons/hicolor/%2x%2/apps/%3.png").arg(data).arg(size).arg(kAppId));
        EXPECT_EQ(QImageReader(icon).size(), QSize(size, size)) << icon.toStdString();
    }

    // Every program that the desktop entry, the units and the launcher start is in this prefix.
    const QString desktop = readText(installed(data + "/applications/" + kAppId + ".desktop"));
    const QString userUnit = readText(installed("lib/systemd/user/kestipdata.service"));
    const QString adapterUnit = readText(installed("lib/systemd/system/kestipdata-satnic@.service"));
    const QString launcher = readText(installed(libexec + "/kestipdata/kestipdata-start"));
    EXPECT_EQ(keyValue(desktop, "Icon"), kAppId);
    for (const QString& command : {keyValue(desktop, "Exec"), keyValue(userUnit, "ExecStart"),
                                   keyValue(adapterUnit, "ExecStart").section(' ', 0, 0)}) {
        EXPECT_TRUE(command.startsWith(prefix_ + "/")) << command.toStdString();
        EXPECT_TRUE(QFileInfo(command).isExecutable()) << command.toStdString();
    }
    EXPECT_TRUE(launcher.contains("exec \"" + installed("bin/KestIpData") + "\"")) << launcher.toStdString();
    EXPECT_TRUE(userUnit.contains("Environment=QT_QPA_PLATFORM=offscreen KEST_MESSAGEBOX=stderr"));
    EXPECT_EQ(keyValue(userUnit, "Restart"), "on-failure");

    // One version everywhere.
    Result run = runProgram(installed("bin/kestdecode"), {"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "kestdecode " KEST_VERSION "\n");
    run = runProgram(installed("bin/kestdecode"), {"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.output.startsWith("usage: kestdecode")) << run.output.toStdString();
    run = runProgram("gzip", {"-dc", installed(KEST_INSTALL_MANDIR "/man1/KestIpData.1.gz")});
    EXPECT_TRUE(run.output.contains("\"Kest IP Data " KEST_VERSION "\"")) << run.output.toStdString();

    // A C program builds against the installed library through its pkg-config file and runs
    // (no receiver is running: status 1).
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PKG_CONFIG_PATH", installed(lib + "/pkgconfig"));
    run = runProgram("pkg-config", {"--cflags", "--libs", "--modversion", "kestapi"}, env);
    ASSERT_EQ(run.status, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(KEST_VERSION));
    const QString example = home_.filePath("example");
    run = runShell(QStringLiteral("PKG_CONFIG_PATH='%1' cc -o '%2' '%3/kestapi/example.c' $(PKG_CONFIG_PATH='%1' "
                                  "pkg-config --cflags --libs kestapi) -Wl,-rpath,'%4'")
                       .arg(installed(lib + "/pkgconfig"), example, KEST_SOURCE_DIR, installed(lib)));
    ASSERT_EQ(run.status, 0) << run.output.toStdString();
    env.insert("XDG_RUNTIME_DIR", home_.filePath("run"));
    run = runProgram(example, {"11747000", "22000000", "H", "256", "257"}, env);
    EXPECT_EQ(run.status, 1) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("the receiver is not running")) << run.output.toStdString();

    // The validators of the desktop entry and the metainfo file.
    QStringList missing;
    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty()) {
        missing << "desktop-file-validate (desktop-file-utils)";
    } else {
        run = runProgram("desktop-file-validate", {installed(data + "/applications/" + kAppId + ".desktop")});
        EXPECT_EQ(run.status, 0) << run.output.toStdString();
        EXPECT_EQ(run.output, "") << "hints and warnings too";
    }
    if (QStandardPaths::findExecutable("appstreamcli").isEmpty()) {
        missing << "appstreamcli (appstream)";
    } else {
        run = runProgram("appstreamcli", {"validate", "--no-net", installed(data + "/metainfo/" + kAppId + ".metainfo.xml")});
        EXPECT_EQ(run.status, 0) << run.output.toStdString();
    }
    if (!missing.isEmpty())
        GTEST_SKIP() << "not validated, missing: " << missing.join(", ").toStdString();
}

// The installed receiver started elsewhere: frames reach the adapter, and a provider the
// user stores goes into the presets file of that working directory.
TEST_F(InstalledProgram, RunsFromAnotherWorkingDirectoryKeepingPresetsThere)
{
    const QString pcap = home_.filePath("out.pcap");
    teststream::KnownStream known;
    ASSERT_TRUE(playKnownStream(300, pcap, &known));
    env_.insert("LD_PRELOAD", KEST_ROBOT);
    env_.insert("KEST_ROBOT_PROVIDER", "Installed");

    QProcess process;
    startIn(process, installed("bin/KestIpData"), workdir_);
    const QString presets = workdir_ + "/kestipdata.ini";
    std::vector<teststream::Frame> frames;
    std::string why;
    EXPECT_TRUE(waitFor(process, [&] {
        teststream::readPcapFrames(pcap.toStdString(), &frames, &why);
        return frames.size() >= known.expectedFrames.size() && readText(presets).contains("[Installed]");
    })) << frames.size() << " frames; presets: " << readText(presets).toStdString();
    process.terminate();
    expectCleanEnd(process);
    ASSERT_TRUE(teststream::readPcapFrames(pcap.toStdString(), &frames, &why)) << why;
    EXPECT_EQ(teststream::differences(known.expectedFrames, frames), "");
    EXPECT_TRUE(readText(presets).startsWith("[Installed]\nFreqency\t")) << readText(presets).toStdString();
    EXPECT_FALSE(QFileInfo::exists(installed("bin/kestipdata.ini")));
    EXPECT_FALSE(QFileInfo::exists(home_.filePath("kestipdata.ini")));
}

// The desktop entry and the user service start the receiver through the launcher, in
// $XDG_DATA_HOME/kestipdata, which it creates.
TEST_F(InstalledProgram, LauncherStartsTheReceiverInTheUsersDataFolder)
{
    env_.insert("XDG_DATA_HOME", home_.filePath("data"));
    env_.insert("LD_PRELOAD", KEST_ROBOT);
    env_.insert("KEST_ROBOT_PROVIDER", "Launched");
    QProcess process;
    startIn(process, installed(KEST_INSTALL_LIBEXECDIR "/kestipdata/kestipdata-start"), workdir_);
    const QString presets = home_.filePath("data/kestipdata/kestipdata.ini");
    EXPECT_TRUE(waitFor(process, [&] { return readText(presets).contains("[Launched]"); }))
        << process.readAllStandardError().toStdString();
    process.terminate(); // the launcher has become the receiver
    expectCleanEnd(process);
    EXPECT_FALSE(QFileInfo::exists(workdir_ + "/kestipdata.ini"));
}

// The station's template unit is valid to systemd and starts a named receiver through
// the launcher, which gives the name a folder of its own (none for a name refused).
TEST_F(InstalledProgram, TemplateUnitVerifiesAndItsLauncherGivesTheNameItsOwnFolder)
{
    const QString unit = installed("lib/systemd/user/kestipdata@.service");
    EXPECT_EQ(keyValue(readText(unit), "ExecStart"),
              installed(KEST_INSTALL_LIBEXECDIR "/kestipdata/kestipdata-start") + " --instance %i");
    if (QStandardPaths::findExecutable("systemd-analyze").isEmpty()) {
        std::printf("systemd-analyze not installed (Debian package systemd): the units were not verified\n");
    } else {
        // --user needs a runtime folder; the manual pages are not where man looks.
        const Result verify = runShell("XDG_RUNTIME_DIR='" + home_.filePath("run") + "' systemd-analyze verify"
                                       " --man=no --user '" + unit + "' '"
                                       + installed("lib/systemd/user/kestipdata.service") + "'");
        EXPECT_EQ(verify.status, 0) << verify.output.toStdString();
    }

    env_.insert("XDG_DATA_HOME", home_.filePath("data"));
    env_.insert("KEST_SCREENSHOT_DIR", home_.filePath("shots")); // ends after starting
    const QString launcher = installed(KEST_INSTALL_LIBEXECDIR "/kestipdata/kestipdata-start");
    QProcess named;
    named.setProcessEnvironment(env_);
    named.setWorkingDirectory(workdir_);
    named.start(launcher, {"--instance", "east"});
    ASSERT_TRUE(named.waitForStarted(10000));
    expectCleanEnd(named);
    EXPECT_TRUE(QFileInfo(home_.filePath("data/kestipdata@east")).isDir());
    EXPECT_TRUE(QFileInfo::exists(home_.filePath("config/KestGroup/Kest-IPData-east.conf")));
    EXPECT_FALSE(QFileInfo::exists(home_.filePath("data/kestipdata")));

    env_.insert("KEST_INSTANCE", "../up");
    QProcess refused;
    refused.setProcessEnvironment(env_);
    refused.setWorkingDirectory(workdir_);
    refused.start(launcher, QStringList());
    ASSERT_TRUE(refused.waitForFinished(20000));
    EXPECT_EQ(refused.exitCode(), 2);
    EXPECT_TRUE(refused.readAllStandardError().contains("the instance name \"../up\" is not valid"));
    EXPECT_EQ(QDir(home_.filePath("data")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"kestipdata@east"});
}

// The installed Russian translation is loaded when the working directory has none;
// one in the working directory comes first.
TEST_F(InstalledProgram, TranslationComesFromTheWorkingDirectoryElseFromTheDataFolder)
{
    env_.insert("LANG", "ru_RU.UTF-8");
    env_.insert("KEST_DEBUG", "1");
    const QString qm = installed(KEST_INSTALL_DATADIR "/kestipdata/Translations/KestIPData_ru.qm");
    QString errors = runBriefly(workdir_);
    EXPECT_TRUE(errors.contains("KestIpData: translation " + qm + "\n")) << errors.toStdString();

    QDir(workdir_).mkpath("Translations");
    ASSERT_TRUE(QFile::copy(qm, workdir_ + "/Translations/KestIPData_ru.qm"));
    errors = runBriefly(workdir_);
    EXPECT_TRUE(errors.contains("KestIpData: translation ./Translations/KestIPData_ru.qm\n")) << errors.toStdString();

    env_.insert("LANG", "C");
    errors = runBriefly(workdir_);
    EXPECT_FALSE(errors.contains("KestIpData: translation")) << errors.toStdString();
}

// The installed program names the installed script and unit for a missing interface,
// not scripts/install-satnic of a source tree.
TEST_F(InstalledProgram, MissingInterfaceMessageNamesWhatTheInstallationHas)
{
    env_.insert("KEST_SATNIC", "tap:kestnoif0");
    const QString errors = runBriefly(workdir_);
    const QString script =
        QFileInfo(installed(KEST_INSTALL_LIBEXECDIR "/kestipdata/install-satnic")).canonicalFilePath();
    EXPECT_TRUE(errors.contains("KestIpData: TAP interface kestnoif0: no such interface yet; frames go to it once it "
                                "exists (create it with: sudo "
                                + script + " kestnoif0 "))
        << errors.toStdString();
    EXPECT_FALSE(errors.contains("scripts/install-satnic")) << errors.toStdString();
}

// Attaches to the TAP interface `ifname` of network namespace `ns` as the receiver does;
// the descriptor, or -1.
int holdInterface(const QString& ns, const QString& ifname)
{
    int fd = -1;
    std::thread([&] {
        const int nsFd = ::open(("/var/run/netns/" + ns).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0 || ::setns(nsFd, CLONE_NEWNET) != 0)
            return;
        ::close(nsFd);
        fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        ifreq ifr{};
        std::strncpy(ifr.ifr_name, ifname.toLocal8Bit().constData(), IFNAMSIZ - 1);
        ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
        if (fd >= 0 && ::ioctl(fd, TUNSETIFF, &ifr) != 0) {
            ::close(fd);
            fd = -1;
        }
    }).join();
    return fd;
}

// A PATH of everything in /usr/bin and /usr/sbin but the programs of procps, which a
// minimal system lacks.
QString pathWithoutProcps(const QString& dir)
{
    QStringList procps = runShell("dpkg -L procps 2>/dev/null | sed -n 's|^/.*bin/||p'").output.split('\n');
    procps << "sysctl";
    QDir().mkpath(dir);
    for (const QString& from : {QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin")})
        for (const QString& name : QDir(from).entryList(QDir::Files | QDir::System))
            if (!procps.contains(name))
                QFile::link(from + "/" + name, dir + "/" + name);
    return dir;
}

// The adapter unit's start and stop commands, run in a network namespace of the test's
// own on a system without procps: a TAP interface of the instance's user with the
// installed file's address, reverse-path filtering off and up; gone after the stop,
// although a receiver holds it open.
TEST_F(InstalledProgram, AdapterUnitCreatesAndRemovesTheUsersInterface)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root (network namespace, TAP interface)";
    const QString unit = readText(installed("lib/systemd/system/kestipdata-satnic@.service"));
    const QString ifname = QStringLiteral("kin%1").arg(getpid());
    const QString ns = QStringLiteral("kest-install-%1").arg(getpid());
    auto command = [&](const QString& key) {
        return keyValue(unit, key).replace("${KEST_SATNIC_IFNAME}", ifname).replace("%i", "nobody");
    };
    ASSERT_EQ(runShell("ip netns add " + ns).status, 0);
    const QString inNs = "ip netns exec " + ns + " ";
    const QString minimal = "PATH=" + pathWithoutProcps(home_.filePath("minimal-bin")) + " ";
    const Result start = runShell(inNs + "env " + minimal + command("ExecStart"));
    const Result link = runShell(inNs + "ip -d -o link show dev " + ifname);
    const Result rpFilter = runShell(inNs + "cat /proc/sys/net/ipv4/conf/" + ifname + "/rp_filter");
    const int held = holdInterface(ns, ifname);
    const Result stop = runShell(inNs + "env " + minimal + command("ExecStop"));
    const Result gone = runShell(inNs + "ip link show dev " + ifname + " 2>&1");
    if (held >= 0)
        ::close(held);
    runShell("ip netns del " + ns);

    EXPECT_EQ(start.status, 0) << start.output.toStdString();
    EXPECT_TRUE(link.output.contains("link/ether 00:c2:b0:30:03:e0")) << link.output.toStdString();
    EXPECT_TRUE(link.output.contains(",UP")) << link.output.toStdString();
    EXPECT_TRUE(link.output.contains("tun type tap")) << link.output.toStdString();
    EXPECT_TRUE(link.output.contains(QStringLiteral("user %1").arg(runShell("id -u nobody").output.trimmed()))
                || link.output.contains("user nobody")) << link.output.toStdString();
    EXPECT_EQ(rpFilter.output.trimmed(), "0");
    EXPECT_GE(held, 0) << "the interface could not be held open as the receiver holds it";
    EXPECT_EQ(stop.status, 0) << stop.output.toStdString();
    EXPECT_NE(gone.status, 0) << "the interface is removed";
}

// scripts/package-deb: a package holding every part, dependencies from the binaries,
// no lintian error. Its build folder (build-deb beside build) is reused from run to run.
TEST(DebianPackage, HoldsEveryPartAndLintianFindsNoError)
{
    for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "cpack"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << tool << " is missing (Debian package dpkg-dev)";
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const Result made = runProgram(KEST_SOURCE_DIR "/scripts/package-deb", {out.path()},
                                   QProcessEnvironment::systemEnvironment(), 1800000);
    ASSERT_EQ(made.status, 0) << made.output.toStdString();
    const QString deb = made.output.trimmed().section('\n', -1);
    ASSERT_TRUE(deb.startsWith(out.path() + "/kestipdata_" KEST_VERSION "_") && deb.endsWith(".deb"))
        << made.output.toStdString();

    const QString contents = runProgram("dpkg-deb", {"--contents", deb}).output;
    const QStringList files = {"./usr/bin/KestIpData", "./usr/bin/kestdecode", "./usr/bin/macstamp",
                                "/libkestapi.so.1 -> ", "./usr/include/kestapi/kestapi.h", "/pkgconfig/kestapi.pc",
                                "./usr/share/applications/" + kAppId + ".desktop",
                                "./usr/share/metainfo/" + kAppId + ".metainfo.xml",
                                "./usr/share/icons/hicolor/256x256/apps/" + kAppId + ".png",
                                "./usr/share/kestipdata/Translations/KestIPData_ru.qm",
                                "./usr/share/kestipdata/SatNicDrv/SatNic.inf",
                                "./usr/libexec/kestipdata/install-satnic", "./usr/libexec/kestipdata/kestipdata-start",
                                "/systemd/system/kestipdata-satnic@.service", "/systemd/user/kestipdata.service",
                                "/systemd/user/kestipdata@.service", "./usr/share/man/man1/KestIpData.1.gz", "./usr/share/man/man1/kestdecode.1.gz",
                                "./usr/share/man/man1/macstamp.1.gz", "./usr/share/doc/kestipdata/copyright"};
    for (const QString& file : files)
        EXPECT_TRUE(contents.contains(file)) << file.toStdString() << " missing from\n" << contents.toStdString();
    EXPECT_TRUE(runProgram("dpkg-deb", {"--field", deb, "Depends"}).output.contains("libqt5widgets5"))
        << "dependencies computed from the binaries";
    const QString unit = runShell("dpkg-deb --fsys-tarfile '" + deb
                                  + "' | tar -xOf - ./usr/lib/systemd/user/kestipdata.service").output;
    EXPECT_TRUE(unit.contains("ExecStart=/usr/libexec/kestipdata/kestipdata-start\n")) << unit.toStdString();

    if (QStandardPaths::findExecutable("lintian").isEmpty())
        GTEST_SKIP() << "lintian is missing: the package was not checked";
    const Result lint = runProgram("lintian", {deb}, QProcessEnvironment::systemEnvironment(), 600000);
    EXPECT_FALSE(QRegularExpression("^E: ", QRegularExpression::MultilineOption).match(lint.output).hasMatch())
        << lint.output.toStdString();
}

} // namespace
