// The receiver end to end on a Linux DVB adapter: the unchanged program with a
// fake adapter 9 preloaded, tuned from its settings, its datagrams in a capture file.
#include "receiver_process.h"

#include <set>

namespace {

// kestmkts's payload: a big-endian sequence number, then bytes sequence * 31 + k.
// The sequence, or -1 for a frame that is not such a datagram.
long long datagramSequence(const QByteArray& frame)
{
    constexpr int kPayload = 14 + 20 + 8;
    if (frame.size() < kPayload + 8)
        return -1;
    unsigned long long sequence = 0;
    for (int k = 0; k < 8; ++k)
        sequence = sequence << 8 | quint8(frame[kPayload + k]);
    for (int k = 8; kPayload + k < frame.size(); ++k)
        if (quint8(frame[kPayload + k]) != static_cast<quint8>(sequence * 31 + static_cast<unsigned>(k)))
            return -1;
    return static_cast<long long>(sequence);
}

TEST_F(KestIpDataProcess, OnALinuxDvbAdapterDeliversItsDatagramsToTheAdapter)
{
    const QString stream = home_.filePath("known.ts");
    const int datagrams = 300;
    ASSERT_TRUE(writeKnownStream(stream, datagrams));
    // 11778 MHz horizontal on a universal LNB: the high band, 1178 MHz.
    ASSERT_TRUE(writeSettings("Freqency=11778\nSymbol-Rate=27500\n"));
    const QString pcap = home_.filePath("out.pcap");
    const QString log = home_.filePath("fake-dvb.log");
    env_.insert("KEST_CARD", "dvb:9:0:cedar");
    env_.insert("KEST_DVB_MAC", "02:11:22:33:44:55");
    env_.insert("KEST_SATNIC", "pcap:" + pcap);
    env_.insert("LD_PRELOAD", KEST_FAKE_DVB);
    env_.insert("KEST_FAKEDVB_IF", "1178000");
    env_.insert("KEST_FAKEDVB_TS", stream);
    env_.insert("KEST_FAKEDVB_LOG", log);

    QProcess process;
    start(process);
    std::vector<QByteArray> frames;
    for (int i = 0; i < 300 && static_cast<int>(frames.size()) < datagrams && process.state() == QProcess::Running;
         ++i) {
        process.waitForFinished(50);
        frames = pcapFrames(pcap);
    }
    process.waitForFinished(300); // a datagram too many would come now
    frames = pcapFrames(pcap);
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(20000));
    const QByteArray errors = process.readAllStandardError();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << errors.constData();

    QFile tunings(log);
    ASSERT_TRUE(tunings.open(QIODevice::ReadOnly)) << "never tuned: " << errors.constData();
    const QByteArray tuned = tunings.readAll();
    EXPECT_TRUE(tuned.startsWith("tune 1178000 27500000\n")) << tuned.constData();
    std::set<long long> sequences;
    for (const QByteArray& frame : frames)
        sequences.insert(datagramSequence(frame));
    EXPECT_EQ(static_cast<int>(frames.size()), datagrams) << "none lost, none twice; " << errors.constData();
    ASSERT_EQ(static_cast<int>(sequences.size()), datagrams);
    EXPECT_EQ(*sequences.begin(), 0) << "every frame one of the stream's datagrams, whole";
    EXPECT_EQ(*sequences.rbegin(), datagrams - 1);
}

} // namespace
