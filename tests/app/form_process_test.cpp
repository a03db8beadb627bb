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
        env_.insert("KEST_CARD", "none");
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

} // namespace
