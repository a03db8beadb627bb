// The receiver end to end on a Linux DVB adapter: the unchanged program with a
// fake adapter 9 preloaded, whose frontend is the demodulator model; tuned
// from its settings, its datagrams in a capture file.
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

struct Reception {
    const char* name;
    const char* card;         // KEST_CARD
    const char* transponders; // the model's table; the first carries the stream
    const char* variant;
    const char* lnb;
    QByteArray settings;
    const char* lockedWith; // the debug line that names the system
    int carrying = 0;               // the transponder whose lock delivers the stream
    const char* saidOnce = nullptr; // a debug line said exactly once
    const char* kept = nullptr;     // a settings line the program writes back at its end
    // The stream as GSE in the pseudo transport stream of baseband frames, which the model
    // delivers only in baseband-frame mode.
    bool basebandFrames = false;
};

std::ostream& operator<<(std::ostream& out, const Reception& r) { return out << r.name; }

class DvbReception : public KestIpDataProcess, public ::testing::WithParamInterface<Reception> {};

TEST_P(DvbReception, LocksAndDeliversExactlyTheStationsDatagrams)
{
    const Reception& r = GetParam();
    const QString stream = home_.filePath("known.ts");
    const int datagrams = 300;
    ASSERT_TRUE(writeKnownStream(stream, datagrams, r.basebandFrames ? QStringList{"--gse"} : QStringList{}));
    ASSERT_TRUE(writeSettings(r.settings));
    const QString pcap = home_.filePath("out.pcap");
    const QString log = home_.filePath("fake-dvb.log");
    env_.insert("KEST_CARD", r.card);
    env_.insert("KEST_DVB_MAC", "02:11:22:33:44:55");
    env_.insert("KEST_SATNIC", "pcap:" + pcap);
    env_.insert("KEST_DEBUG", "1");
    env_.insert("LD_PRELOAD", KEST_FAKE_DVB);
    env_.insert("KEST_FAKEDVB_TRANSPONDERS", r.transponders);
    env_.insert("KEST_FAKEDVB_VARIANT", r.variant);
    env_.insert("KEST_FAKEDVB_LNB", r.lnb);
    env_.insert(r.basebandFrames ? "KEST_FAKEDVB_BBFRAMES" : "KEST_FAKEDVB_TS", stream);
    env_.insert("KEST_FAKEDVB_LOG", log);
    env_.insert("KEST_FAKEDVB_CARRYING", QString::number(r.carrying));

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
    EXPECT_EQ(process.exitCode(), 0);

    QFile modelLog(log);
    ASSERT_TRUE(modelLog.open(QIODevice::ReadOnly)) << "never tuned";
    const QByteArray seen = modelLog.readAll();
    EXPECT_FALSE(seen.contains("violation")) << seen.constData();
    const int locked = seen.indexOf("locked " + QByteArray::number(r.carrying) + "\n");
    ASSERT_GE(locked, 0) << "never locked to the station's transponder:\n" << seen.constData();
    EXPECT_EQ(seen.indexOf("tune ", locked), -1) << "retuned after the lock:\n" << seen.constData();
    EXPECT_TRUE(errors.contains(r.lockedWith)) << "the debug output names the system:\n" << errors.constData();
    if (r.saidOnce != nullptr) {
        EXPECT_EQ(errors.count(r.saidOnce), 1) << errors.constData();
    }
    if (r.kept != nullptr) {
        QFile settings(home_.filePath("config/KestGroup/Kest-IPData.conf"));
        ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
        EXPECT_TRUE(settings.readAll().contains(r.kept)) << "kept across the restart: " << r.kept;
    }

    std::set<long long> sequences;
    for (const QByteArray& frame : frames)
        sequences.insert(datagramSequence(frame));
    EXPECT_EQ(static_cast<int>(frames.size()), datagrams) << "none lost, none twice";
    ASSERT_EQ(static_cast<int>(sequences.size()), datagrams);
    EXPECT_EQ(*sequences.begin(), 0) << "every frame one of the stream's datagrams, whole";
    EXPECT_EQ(*sequences.rbegin(), datagrams - 1);
}

TEST_F(KestIpDataProcess, OnALinuxDvbAdapterThatNeverLocksSaysUnlockedOnceAndKeepsPolling)
{
    ASSERT_TRUE(writeSettings("Freqency=11778\nSymbol-Rate=27500\nPolarisation=0\nModulation=0\n"));
    const QString log = home_.filePath("fake-dvb.log");
    env_.insert("KEST_CARD", "dvb:9:0:spruce");
    env_.insert("KEST_DEBUG", "1");
    env_.insert("LD_PRELOAD", KEST_FAKE_DVB);
    env_.insert("KEST_FAKEDVB_TRANSPONDERS", "0:V:11778:27500:S2:8PSK"); // the other polarisation
    env_.insert("KEST_FAKEDVB_LOG", log);
    QProcess process;
    start(process);
    // A round of five candidates at 27500 kS/s takes six seconds; the re-apply would come at twelve.
    process.waitForFinished(9000);
    ASSERT_EQ(process.state(), QProcess::Running);
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
    const QByteArray errors = process.readAllStandardError();
    EXPECT_EQ(errors.count("linuxdvb: no lock on 11778 MHz H 27500 kS/s with DVB-S, DVB-S2 8PSK, DVB-S2 QPSK, DVB-S2 "
                           "16APSK, DVB-S2 32APSK: Unlocked"),
              1)
        << errors.constData();
    EXPECT_GE(errors.count("CBDAManager::GetDemodLocked\n"), 6) << "the window's status poll goes on";
    QFile modelLog(log);
    ASSERT_TRUE(modelLog.open(QIODevice::ReadOnly));
    const QByteArray seen = modelLog.readAll();
    EXPECT_GE(seen.count("tune "), 5) << seen.constData();
    EXPECT_LE(seen.count("tune "), 10) << "one candidate at a time, no tight loop:\n" << seen.constData();
}

// 11778 MHz horizontal on a universal LNB: the high band. Settings: polarisation 0 is H;
// modulation 0 "Auto", 1 "DVB-S", 2 "DVB-S2".
const QByteArray kHighBand = "Freqency=11778\nSymbol-Rate=27500\nPolarisation=0\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, DvbReception,
    ::testing::Values(
        Reception{"DvbSQpskAuto", "dvb:9:0:larch", "0:H:11778:27500:S:QPSK,0:V:11778:27500:S2:8PSK", "", "universal",
                  kHighBand + "Modulation=0\n", "locked with DVB-S on 11778 MHz"},
        Reception{"DvbS2_8pskAutoOnSpruce", "dvb:9:0:spruce", "0:H:11778:27500:S2:8PSK", "", "universal",
                  kHighBand + "Modulation=0\n", "locked with DVB-S2 8PSK"},
        Reception{"DvbS2_8pskAutoOnSpruceQamAuto", "dvb:9:0:spruce", "0:H:11778:27500:S2:8PSK", "qamauto", "universal",
                  kHighBand + "Modulation=0\n", "locked with DVB-S2 on 11778 MHz"},
        Reception{"DvbS2_16apskAutoOnSpruce", "dvb:9:0:spruce", "0:H:11778:27500:S2:16APSK", "", "universal",
                  kHighBand + "Modulation=0\n", "locked with DVB-S2 16APSK"},
        Reception{"DvbS2_16apskAutoOnSpruceQamAuto", "dvb:9:0:spruce", "0:H:11778:27500:S2:16APSK", "qamauto",
                  "universal", kHighBand + "Modulation=0\n", "locked with DVB-S2 on 11778 MHz"},
        Reception{"DvbS2_8pskChosenOnCedar", "dvb:9:0:cedar", "0:H:11778:27500:S2:8PSK", "", "universal",
                  kHighBand + "Modulation=2\n", "locked with DVB-S2 8PSK"},
        // The same transponder on port 0 would lock too, without the station's stream.
        Reception{"BehindSwitchPort3", "dvb:9:0:cedar", "3:V:10992:22000:S2:8PSK,0:V:10992:22000:S2:8PSK", "",
                  "universal",
                  "Freqency=10992\nSymbol-Rate=22000\nPolarisation=1\nModulation=0\nDiSEqC-1.0=1\nMultiOption=3\n"
                  "RepeatCount=1\nGapTime=50\n",
                  "locked with DVB-S2 8PSK"},
        // Two input streams on one carrier, each received by its ISI; the other stream's lock
        // would deliver nothing.
        Reception{"MultistreamIsi3", "dvb:9:0:spruce", "0:H:11778:27500:S2:8PSK:isi3,0:H:11778:27500:S2:8PSK:isi7", "",
                  "universal", kHighBand + "Modulation=0\nStreamID=3\n",
                  "locked with DVB-S2 8PSK on 11778 MHz H 27500 kS/s ISI 3", 0, nullptr, "StreamID=3"},
        Reception{"MultistreamIsi7", "dvb:9:0:spruce", "0:H:11778:27500:S2:8PSK:isi3,0:H:11778:27500:S2:8PSK:isi7", "",
                  "universal", kHighBand + "Modulation=0\nStreamID=7\n",
                  "locked with DVB-S2 8PSK on 11778 MHz H 27500 kS/s ISI 7", 1, nullptr, "StreamID=7"},
        // A scrambled stream, its code given as gold and as root (gold 131070 is root 16416).
        Reception{"PlsGold", "dvb:9:0:cedar", "0:H:11778:27500:S2:8PSK:isi3,0:H:11778:27500:S2:8PSK:isi5:gold131070",
                  "", "universal", kHighBand + "Modulation=2\nStreamID=5\nPLSCode=131070\n",
                  "locked with DVB-S2 8PSK on 11778 MHz H 27500 kS/s ISI 5 PLS gold 131070", 1, nullptr,
                  "PLSCode=131070"},
        Reception{"PlsRoot", "dvb:9:0:cedar", "0:H:11778:27500:S2:8PSK:isi5:gold131070", "", "universal",
                  kHighBand + "Modulation=2\nStreamID=5\nPLSMode=0\nPLSCode=16416\n",
                  "locked with DVB-S2 8PSK on 11778 MHz H 27500 kS/s ISI 5 PLS root 16416", 0, nullptr, "PLSMode=0"},
        // An older kernel: the PLS in DTV_STREAM_ID's upper bits.
        Reception{"PlsOnAnOlderKernel", "dvb:9:0:cedar", "0:H:11778:27500:S2:8PSK:isi5:gold131070", "plsinstreamid",
                  "universal", kHighBand + "Modulation=2\nStreamID=5\nPLSCode=131070\n",
                  "locked with DVB-S2 8PSK on 11778 MHz H 27500 kS/s ISI 5", 0,
                  "the kernel refuses DTV_SCRAMBLING_SEQUENCE_INDEX"},
        // A frontend that cannot select a stream still tunes, and takes the carrier's first.
        Reception{"WithoutMultistream", "dvb:9:0:spruce", "0:H:11778:27500:S2:8PSK:isi3,0:H:11778:27500:S2:8PSK:isi7",
                  "nomultistream", "universal", kHighBand + "Modulation=0\nStreamID=7\n",
                  "locked with DVB-S2 8PSK on 11778 MHz H 27500 kS/s ISI 7", 0,
                  "linuxdvb: the frontend cannot select a stream (no FE_CAN_MULTISTREAM): ISI 7 is not sent"},
        // Baseband frames of stream 7 only, as the demodulator delivers them when asked for them.
        Reception{"BasebandFramesOfIsi7", "dvb:9:0:spruce",
                  "0:H:11778:27500:S2:8PSK:isi3,0:H:11778:27500:S2:8PSK:isi7", "", "universal",
                  kHighBand + "Modulation=0\nStreamID=7\nBBFrames=1\n",
                  "locked with DVB-S2 8PSK on 11778 MHz H 27500 kS/s ISI 7 baseband frames", 0, nullptr,
                  "BBFrames=1", true},
        Reception{"CBandLnb", "dvb:9:0:cedar", "0:H:3800:27500:S:QPSK", "", "cband",
                  "Freqency=3800\nSymbol-Rate=27500\nPolarisation=0\nModulation=1\nLNBType=1\nLOF1=5150\nLOF2=0\n"
                  "LOF_SW=0\n",
                  "locked with DVB-S on 3800 MHz"}),
    [](const ::testing::TestParamInfo<Reception>& info) { return std::string(info.param.name); });

} // namespace
