// A station: two named receivers and an unnamed one on simulated cards, started
// at once, each with its own stream, capture file, settings, metrics and
// window-message folder; kestapi reaches each by its name, and the metrics
// count what the captures hold.
#include "receiver_process.h"
#include "tests/support/known_stream.h"

#include "kestapi/kestapi.h"

#include <QRegularExpression>
#include <QSettings>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace {

struct Copy {
    QString name;
    QString card;
    QProcessEnvironment env;
    teststream::KnownStream known;
    QString pcap;
    QString metrics;
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QString errors;
};

// The value of the series `name{labels...}` (the labels given must lead).
QString seriesValue(const QString& text, const QString& series)
{
    for (const QString& line : text.split('\n'))
        if (line.startsWith(series))
            return line.section(' ', -1);
    return {};
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// GET /metrics on the loopback port; the body, empty when nothing answers.
QString scrape(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const char request[] = "GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n";
        ::write(fd, request, sizeof request - 1);
        timeval timeout{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            answer.append(buffer, static_cast<int>(n));
    }
    ::close(fd);
    const int body = answer.indexOf("\r\n\r\n");
    return body < 0 ? QString() : QString::fromUtf8(answer.mid(body + 4));
}

// Transport packets of `pid` in the stream: what the statistics window counts for it.
quint64 packetsOn(const std::vector<uint8_t>& stream, int pid)
{
    quint64 count = 0;
    for (size_t at = 0; at + 188 <= stream.size(); at += 188)
        count += (((stream[at + 1] & 0x1F) << 8) | stream[at + 2]) == pid;
    return count;
}

class Station : public KestIpDataProcess {
protected:
    static QString settingsFile(const QString& name)
    {
        return "config/KestGroup/Kest-IPData" + (name.isEmpty() ? QString() : "-" + name) + ".conf";
    }

    // Its own stream, capture and metrics file; the card from the environment or, for
    // `cardFromSetting`, from the instance's settings file. An empty name: the unnamed copy.
    void prepare(Copy& copy, const QString& name, const QString& card, int datagrams, bool cardFromSetting)
    {
        copy.name = name;
        copy.card = card;
        copy.known = teststream::makeKnownStream({0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, datagrams, datagrams);
        const QString base = name.isEmpty() ? QStringLiteral("unnamed") : name;
        const QString stream = home_.filePath(base + ".ts");
        ASSERT_TRUE(teststream::writeFile(stream.toStdString(), copy.known.transportStream));
        QDir(home_.path()).mkpath("config/KestGroup");
        QFile settings(home_.filePath(settingsFile(name)));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[Settings]\nActivePIDs=256\\n257\\n258\\n\nMPEFilter=0\n");
        if (cardFromSetting)
            settings.write("Card=" + card.toUtf8() + "\n");
        settings.close();
        copy.pcap = home_.filePath(base + ".pcap");
        copy.metrics = home_.filePath(base + ".prom");
        copy.env = env_;
        if (cardFromSetting)
            copy.env.remove("KEST_CARD");
        else
            copy.env.insert("KEST_CARD", card);
        copy.env.insert("KEST_SIM_TS", stream);
        copy.env.insert("KEST_SIM_LOOP", "0");
        copy.env.insert("KEST_SIM_RATE", "0");
        copy.env.insert("KEST_SIM_MAC", "02:11:22:33:44:55");
        copy.env.insert("KEST_SATNIC", "pcap:" + copy.pcap);
        copy.env.insert("KEST_METRICS_FILE", copy.metrics);
    }

    void startCopy(Copy& copy)
    {
        copy.process->setProcessEnvironment(copy.env);
        copy.process->setWorkingDirectory(home_.path());
        copy.process->start(QString(KEST_BIN_DIR) + "/KestIpData",
                            copy.name.isEmpty() ? QStringList() : QStringList{"--instance", copy.name});
        ASSERT_TRUE(copy.process->waitForStarted(10000));
    }

    template <typename Done>
    bool waitFor(Copy& copy, Done done, int seconds = 30)
    {
        for (int i = 0; i < seconds * 20; ++i) {
            copy.errors += QString::fromLocal8Bit(copy.process->readAllStandardError());
            if (done())
                return true;
            if (copy.process->state() != QProcess::Running)
                return false;
            copy.process->waitForFinished(50);
        }
        return false;
    }

    // The counters of a copy's metrics match its capture and its stream.
    void expectCountsOf(const Copy& copy, const QString& text)
    {
        const QString labels = "{receiver=\"" + copy.name + "\",card=\"" + copy.card + "\"";
        const auto frames = pcapFrames(copy.pcap).size();
        EXPECT_EQ(frames, copy.known.expectedFrames.size()) << copy.name.toStdString();
        EXPECT_EQ(seriesValue(text, "kestipdata_delivered_frames_total" + labels + "}"), QString::number(frames))
            << text.toStdString();
        for (int pid : {256, 257, 258})
            EXPECT_EQ(seriesValue(text, "kestipdata_pid_packets_total" + labels + ",pid=\"" + QString::number(pid)),
                      QString::number(packetsOn(copy.known.transportStream, pid)))
                << copy.name.toStdString() << " PID " << pid;
        EXPECT_EQ(seriesValue(text, "kestipdata_locked" + labels + "}"), "1");
        EXPECT_EQ(text.count(QRegularExpression("^kestipdata_decoder_errors_total\\{.*\\} 0$",
                                                QRegularExpression::MultilineOption)),
                  10)
            << "no errors, as the statistics window shows: " << text.toStdString();
    }
};

TEST_F(Station, NamedAndUnnamedReceiversRunSideBySideAndAreMonitoredAndTunedByName)
{
    Copy east, west, unnamed;
    prepare(east, "east", "sim:cedar", 40, true);
    prepare(west, "west", "sim:spruce", 70, false);
    prepare(unnamed, "", "sim:birch", 10, false);
    west.env.insert("KEST_METRICS_ADDR", "127.0.0.1:0");
    startCopy(east);
    startCopy(west);
    startCopy(unnamed);

    for (Copy* copy : {&east, &west, &unnamed})
        ASSERT_TRUE(waitFor(*copy, [&] { return pcapFrames(copy->pcap).size() >= copy->known.expectedFrames.size(); }))
            << copy->name.toStdString() << ": " << copy->errors.toStdString();
    for (const Copy* copy : {&east, &west}) {
        std::vector<teststream::Frame> frames;
        std::string why;
        EXPECT_TRUE(teststream::readPcapFrames(copy->pcap.toStdString(), &frames, &why)) << why;
        EXPECT_EQ(teststream::differences(copy->known.expectedFrames, frames), "") << copy->name.toStdString();
    }

    // A second start of a name ends at once, as without one; the other name is no obstacle.
    QProcess again;
    again.setProcessEnvironment(east.env);
    again.start(QString(KEST_BIN_DIR) + "/KestIpData", {"--instance", "east"});
    ASSERT_TRUE(again.waitForFinished(20000));
    EXPECT_EQ(again.exitCode(), 0);
    EXPECT_TRUE(again.readAllStandardError().contains("Kest-IPData is already running"));

    // The file (every five seconds) and the loopback endpoint (every second).
    QString eastText;
    EXPECT_TRUE(waitFor(east, [&] {
        eastText = readText(east.metrics);
        return !seriesValue(eastText, "kestipdata_delivered_frames_total").isEmpty()
            && seriesValue(eastText, "kestipdata_delivered_frames_total")
            == QString::number(east.known.expectedFrames.size());
    }, 15)) << eastText.toStdString();
    expectCountsOf(east, eastText);
    const QRegularExpression portLine("metrics on port (\\d+)");
    ASSERT_TRUE(waitFor(west, [&] { return portLine.match(west.errors).hasMatch(); })) << west.errors.toStdString();
    const quint16 port = static_cast<quint16>(portLine.match(west.errors).captured(1).toUInt());
    QString scraped;
    EXPECT_TRUE(waitFor(west, [&] {
        scraped = scrape(port);
        return seriesValue(scraped, "kestipdata_delivered_frames_total")
            == QString::number(west.known.expectedFrames.size());
    }, 15)) << scraped.toStdString();
    expectCountsOf(west, scraped);
    // The endpoint serves what the file says, once both are past the end of the stream.
    const auto counters = [](const QString& text) {
        QStringList lines = text.split('\n').filter(QRegularExpression("^kestipdata_\\w+_total\\{"));
        lines.sort();
        return lines;
    };
    QString westFile;
    EXPECT_TRUE(waitFor(west, [&] {
        westFile = readText(west.metrics);
        return counters(westFile) == counters(scraped);
    }, 15)) << westFile.toStdString() << "\n---\n" << scraped.toStdString();

    // Each copy's windows, its single-instance listener and its main window, in its own folder.
    for (const QString folder : {"kest-windows", "kest-windows@east", "kest-windows@west"})
        EXPECT_EQ(QDir(home_.filePath("run/" + folder)).entryList({"*.sock"}, QDir::System | QDir::Files).size(), 2)
            << folder.toStdString();

    // kestapi: the named call reaches its copy only, the unnamed call the unnamed copy.
    ::setenv("XDG_RUNTIME_DIR", home_.filePath("run").toLocal8Bit().constData(), 1);
    TransponderInfo info{};
    info.frequencyKhz = 11747000;
    info.symbolRate = 22000000;
    info.horizontal = 1;
    info.pid1 = 300;
    info.pid2 = 301;
    EXPECT_EQ(TransponderChangeInstance("north", 0, &info), KESTAPI_NO_RECEIVER);
    EXPECT_EQ(TransponderChangeInstance("../east", 0, &info), KESTAPI_NO_RECEIVER);
    EXPECT_EQ(TransponderChangeInstance("east", 0, &info), KESTAPI_OK);
    info.frequencyKhz = 12100000;
    EXPECT_EQ(TransponderChangeInstance("west", 0, &info), KESTAPI_OK);
    info.frequencyKhz = 10900000;
    EXPECT_EQ(TransponderChange(0, &info), KESTAPI_OK);
    ::unsetenv("XDG_RUNTIME_DIR");

    for (Copy* copy : {&east, &west, &unnamed}) {
        copy->process->terminate();
        expectCleanEnd(*copy->process);
    }
    const QSettings eastSaved(home_.filePath("config/KestGroup/Kest-IPData-east.conf"), QSettings::IniFormat);
    const QSettings westSaved(home_.filePath("config/KestGroup/Kest-IPData-west.conf"), QSettings::IniFormat);
    const QSettings unnamedSaved(home_.filePath(settingsFile("")), QSettings::IniFormat);
    EXPECT_EQ(eastSaved.value("Settings/Freqency").toString(), "11747");
    EXPECT_EQ(eastSaved.value("Settings/Card").toString(), "sim:cedar") << "a setting the receiver keeps";
    EXPECT_EQ(westSaved.value("Settings/Freqency").toString(), "12100") << "each copy got its own tuning";
    EXPECT_EQ(unnamedSaved.value("Settings/Freqency").toString(), "10900") << "the unnamed call tunes the unnamed copy";

    // Written once more at the end; the series format as Prometheus reads it.
    const QString last = readText(west.metrics);
    EXPECT_EQ(seriesValue(last, "kestipdata_delivered_frames_total"), QString::number(west.known.expectedFrames.size()));
    if (std::system("command -v promtool >/dev/null 2>&1") != 0) {
        std::printf("promtool not installed: the metrics files were not checked with it\n");
    } else {
        for (const Copy* copy : {&east, &west}) {
            const QString lint = home_.filePath(copy->name + ".lint");
            const QString command = "promtool check metrics < '" + copy->metrics + "' > '" + lint + "' 2>&1";
            EXPECT_EQ(std::system(command.toLocal8Bit().constData()), 0) << readText(lint).toStdString();
        }
    }
}

} // namespace
