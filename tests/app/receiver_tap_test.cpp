// The receiver on a TAP interface in a network namespace of the test's own: an interface
// that appears after the start, and one deleted and made again, both receive the frames.
#include "receiver_process.h"
#include "tests/tools/netns.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <unistd.h>

namespace {

constexpr const char* kTap = "ktap0";

class ReceiverOnTap : public KestIpDataProcess {
protected:
    void SetUp() override
    {
        if (!testns::isRoot())
            GTEST_SKIP() << "needs root for a network namespace and a TAP interface";
        KestIpDataProcess::SetUp();
        ns_ = "kest-retap-" + std::to_string(::getpid());
        testns::run("ip netns del " + ns_ + " 2>/dev/null");
        ASSERT_EQ(testns::run("ip netns add " + ns_), 0);
    }
    void TearDown() override
    {
        if (!ns_.empty())
            testns::run("ip netns del " + ns_ + " 2>/dev/null");
    }

    int inNamespace(const std::string& command) { return testns::run("ip netns exec " + ns_ + " " + command); }

    bool createTap()
    {
        return inNamespace(std::string("ip tuntap add dev ") + kTap + " mode tap") == 0
            && inNamespace(std::string("ip link set dev ") + kTap + " up") == 0;
    }

    // Packets the interface has received from the receiver; -1 when it does not exist.
    long received()
    {
        const std::string file = home_.filePath("rx").toStdString();
        if (inNamespace(std::string("cat /sys/class/net/") + kTap + "/statistics/rx_packets > " + file
                        + " 2>/dev/null")
            != 0)
            return -1;
        QFile rx(QString::fromStdString(file));
        return rx.open(QIODevice::ReadOnly) ? rx.readAll().trimmed().toLong() : -1;
    }

    bool framesArrive(QProcess& receiver)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 15000 && receiver.state() == QProcess::Running) {
            if (received() > 20)
                return true;
            receiver.waitForFinished(200);
        }
        return false;
    }

    std::string ns_;
};

TEST_F(ReceiverOnTap, InterfaceMadeAfterTheStartOrMadeAgainReceivesTheFrames)
{
    const QString stream = home_.filePath("known.ts");
    ASSERT_TRUE(writeKnownStream(stream, 200));
    ASSERT_TRUE(writeSettings());
    env_.insert("KEST_SIM_TS", stream);
    env_.insert("KEST_SIM_MAC", "02:11:22:33:44:55");
    env_.insert("KEST_SATNIC", QString("tap:") + kTap);
    env_.insert("KEST_DEBUG", "1");
    env_.insert("LC_ALL", "C");
    const QString errorsPath = home_.filePath("stderr.txt");
    QProcess receiver;
    receiver.setProcessEnvironment(env_);
    receiver.setWorkingDirectory(home_.path());
    receiver.setStandardErrorFile(errorsPath);
    receiver.start("ip", {"netns", "exec", QString::fromStdString(ns_), QString(KEST_BIN_DIR) + "/KestIpData"});
    ASSERT_TRUE(receiver.waitForStarted(10000));
    receiver.waitForFinished(2000);
    ASSERT_EQ(receiver.state(), QProcess::Running);

    ASSERT_TRUE(createTap());
    EXPECT_TRUE(framesArrive(receiver)) << "an interface made after the start";

    ASSERT_EQ(inNamespace(std::string("ip link del ") + kTap), 0);
    receiver.waitForFinished(1500);
    ASSERT_TRUE(createTap());
    EXPECT_TRUE(framesArrive(receiver)) << "an interface deleted and made again";

    receiver.terminate();
    ASSERT_TRUE(receiver.waitForFinished(20000));
    EXPECT_EQ(receiver.exitCode(), 0);
    QFile file(errorsPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString errors = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(errors.contains(QString("KestIpData: TAP interface ") + kTap
                                + ": no such interface yet; frames go to it once it exists (create it with: sudo "))
        << errors.toStdString();
    EXPECT_EQ(errors.count(QString("SatNic: TAP interface ") + kTap + " went away"), 1) << errors.toStdString();
    EXPECT_EQ(errors.count(QString("SatNic: TAP interface ") + kTap + " is back, opened again"), 2)
        << errors.toStdString();
    EXPECT_TRUE(errors.contains(QRegularExpression("SatNic: TAP interface ktap0 [^\n]*; [1-9][0-9]* frames were lost\n")))
        << "what was lost meanwhile is counted\n"
        << errors.toStdString();
}

} // namespace
