// The metrics text, the files it is written to, and the requests of the endpoint.
#include "metrics/exposition.h"
#include "metrics/http_request.h"
#include "metrics/textfile.h"

#include "decoder/decoder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string tempFolder()
{
    char pattern[] = "/tmp/kest-metrics-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made != nullptr ? made : "";
}

int filesIn(const std::string& folder)
{
    int count = 0;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            count += entry->d_name[0] != '.' || (entry->d_name[1] != '\0' && entry->d_name[1] != '.');
        ::closedir(dir);
    }
    return count;
}

MetricsSnapshot fullSnapshot()
{
    MetricsSnapshot s;
    s.receiver = "east";
    s.card = "dvb:1:0:cedar";
    s.hasReceiver = true;
    s.version = "1.04";
    s.model = "Kest Cedar DVB-S2";
    s.startTimeSeconds = 1796780000.25;
    s.locked = true;
    s.signalLevel = 0.81;
    s.signalQuality = 0.93;
    s.frequencyHertz = 11747000000ull;
    s.symbolRateBaud = 27500000;
    s.vertical = true;
    s.adapterOpen = true;
    s.tsPackets = 1000;
    s.deliveredBytes = 5000000000ull; // past 32 bits
    s.deliveredFrames = 42;
    s.lostFrames = 3;
    s.selectedPidPackets = {{256, 10}, {8190, 20}};
    for (size_t i = 0; i < s.errors.size(); ++i)
        s.errors[i] = 100 + i;
    return s;
}

TEST(MetricsText, CarriesEveryFigureWithTheLabelsInBaseUnits)
{
    const std::string text = formatMetrics(fullSnapshot());
    const std::string labels = "{receiver=\"east\",card=\"dvb:1:0:cedar\"";
    for (const std::string& line : {
             "kestipdata_info" + labels + ",version=\"1.04\",model=\"Kest Cedar DVB-S2\"} 1\n",
             "kestipdata_start_time_seconds" + labels + "} 1796780000.25\n",
             "kestipdata_locked" + labels + "} 1\n",
             "kestipdata_signal_level_ratio" + labels + "} 0.81\n",
             "kestipdata_signal_quality_ratio" + labels + "} 0.93\n",
             "kestipdata_tuning_info" + labels
                 + ",frequency_hertz=\"11747000000\",symbol_rate_baud=\"27500000\",polarisation=\"vertical\"} 1\n",
             "kestipdata_adapter_up" + labels + "} 1\n",
             "kestipdata_ts_packets_total" + labels + "} 1000\n",
             "kestipdata_pid_packets_total" + labels + ",pid=\"8190\"} 20\n",
             "kestipdata_delivered_bytes_total" + labels + "} 5000000000\n",
             "kestipdata_delivered_frames_total" + labels + "} 42\n",
             "kestipdata_lost_frames_total" + labels + "} 3\n",
             "kestipdata_decoder_errors_total" + labels + ",kind=\"continuity\"} 100\n",
             "kestipdata_decoder_errors_total" + labels + ",kind=\"ule\"} 109\n",
             std::string("# TYPE kestipdata_delivered_frames_total counter\n"),
         })
        EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line;

    // A copy without a name and kestdecode's counts: no receiver state at all.
    MetricsSnapshot counts = fullSnapshot();
    counts.hasReceiver = false;
    EXPECT_EQ(formatMetrics(counts).find("kestipdata_locked"), std::string::npos);
}

// A card or name from a setting may hold anything a label must escape.
TEST(MetricsText, LabelValuesEscapeQuotesBackslashesAndLineFeeds)
{
    EXPECT_EQ(escapeLabelValue("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
    MetricsSnapshot s;
    s.card = "sim:\"x\"\n";
    EXPECT_NE(formatMetrics(s).find("card=\"sim:\\\"x\\\"\\n\"}"), std::string::npos);
}

TEST(MetricsText, PassesPromtool)
{
    if (std::system("command -v promtool >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "promtool not installed (scripts/install-deps takes it from Debian's prometheus package)";
    const std::string folder = tempFolder();
    const std::string path = folder + "/all.prom";
    MetricsSnapshot s = fullSnapshot();
    s.card = "odd \"card\"\\";
    ASSERT_TRUE(writeFileAtomically(path, formatMetrics(s), nullptr));
    const std::string command = "promtool check metrics < " + path + " > " + folder + "/lint.txt 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << readAll(folder + "/lint.txt");
    std::system(("rm -rf " + folder).c_str());
}

TEST(MetricsText, DecoderCountersGiveSelectedPidsOnlyAndTheirSum)
{
    static DecoderState decoder; // large: not on the stack
    MetricsSnapshot s;
    s.tsPackets = 99;
    readDecoderCounters(decoder, s);
    EXPECT_EQ(s.tsPackets, 0u) << "no tables, no packets";
    EXPECT_TRUE(s.selectedPidPackets.empty());

    auto packets = std::make_unique<Counter[]>(kPidCount);
    decoder.pidPackets = packets.get();
    packets[0] = 5;
    packets[256] = 7;
    packets[8191] = 11;
    decoder.pidSlot[256] = 1;
    decoder.pidSlot[8191] = 2;
    decoder.rxCrcErrors = 4;
    decoder.rxUleErrors = 6;
    readDecoderCounters(decoder, s);
    decoder.pidPackets = nullptr;
    EXPECT_EQ(s.tsPackets, 23u);
    EXPECT_EQ(s.selectedPidPackets, (std::vector<std::pair<int, uint64_t>>{{256, 7}, {8191, 11}}));
    EXPECT_EQ(s.errors[5], 4u) << errorKindName(5);
    EXPECT_EQ(s.errors[9], 6u) << errorKindName(9);
}

TEST(MetricsFile, IsReplacedWholeReadableByOthersAndAFailureLeavesNothingBehind)
{
    const std::string folder = tempFolder();
    const std::string path = folder + "/kest.prom";
    ASSERT_TRUE(writeFileAtomically(path, std::string(100000, 'a'), nullptr));
    ASSERT_TRUE(writeFileAtomically(path, "short\n", nullptr));
    EXPECT_EQ(readAll(path), "short\n");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u) << "the collector runs as another user";
    EXPECT_EQ(filesIn(folder), 1) << "no temporary file is left";

    std::string error;
    EXPECT_FALSE(writeFileAtomically(folder + "/missing/kest.prom", "x", &error));
    EXPECT_NE(error.find(folder + "/missing/kest.prom"), std::string::npos) << error;
    ::chmod(folder.c_str(), 0500);
    if (::geteuid() != 0) {
        EXPECT_FALSE(writeFileAtomically(path, "other\n", &error));
        EXPECT_EQ(readAll(path), "short\n") << "a failed write keeps the old file";
    }
    ::chmod(folder.c_str(), 0700);
    std::system(("rm -rf " + folder).c_str());
}

TEST(HttpRequest, HeadsAreCompleteIncompleteMalformedOrTooLarge)
{
    using State = HttpRequest::State;
    const struct {
        std::string text;
        State state;
        const char* path;
    } cases[] = {
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", State::Complete, "/metrics"},
        {"GET /metrics?x=1 HTTP/1.0\n\n", State::Complete, "/metrics"},
        {"\r\nHEAD /metrics HTTP/1.1\r\nAccept: */*\r\n\r\nbody", State::Complete, "/metrics"},
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n", State::Incomplete, ""},
        {"GET /metrics HTTP/1.1\r\n", State::Incomplete, ""},
        {"GET  /metrics HTTP/1.1\r\n\r\n", State::Bad, ""},
        {"GET metrics HTTP/1.1\r\n\r\n", State::Bad, ""},
        {"GET /metrics HTTP/2\r\n\r\n", State::Bad, ""},
        {"GET /met\x01rics HTTP/1.1\r\n\r\n", State::Bad, ""},
        {"GET /metrics HTTP/1.1\r\nNo colon\r\n\r\n", State::Bad, ""},
        {"GET /metrics HTTP/1.1\r\nX: a\x7f\r\n\r\n", State::Bad, ""},
        {"G(T /metrics HTTP/1.1\r\n\r\n", State::Bad, ""},
        {"GET /metrics HTTP/1.1\r\nX: " + std::string(kMaxRequestHead, 'a'), State::TooLarge, ""},
        {std::string(kMaxRequestHead - 1, 'a'), State::Incomplete, ""},
    };
    for (const auto& c : cases) {
        const HttpRequest request = parseHttpRequest(c.text);
        EXPECT_EQ(int(request.state), int(c.state)) << c.text.substr(0, 60);
        if (c.state == State::Complete) {
            EXPECT_EQ(request.path, c.path) << c.text;
        }
    }
}

TEST(HttpRequest, AnswersServeTheMetricsOnlyToGetAndHeadOfTheirPath)
{
    const std::string metrics = "kestipdata_locked 1\n";
    const std::string ok = httpResponse(parseHttpRequest("GET /metrics HTTP/1.1\r\n\r\n"), metrics);
    EXPECT_EQ(ok.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << ok;
    EXPECT_NE(ok.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"), std::string::npos);
    EXPECT_NE(ok.find("Content-Length: 20\r\n"), std::string::npos);
    EXPECT_NE(ok.find("Connection: close\r\n\r\nkestipdata_locked 1\n"), std::string::npos);

    const std::string head = httpResponse(parseHttpRequest("HEAD /metrics HTTP/1.1\r\n\r\n"), metrics);
    EXPECT_NE(head.find("Content-Length: 20\r\n"), std::string::npos);
    EXPECT_EQ(head.find("kestipdata_locked"), std::string::npos) << "HEAD has no body";

    const struct {
        const char* request;
        const char* status;
    } others[] = {
        {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 404 "},
        {"POST /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 405 "},
        {"GET /metrics HTTP/9\r\n\r\n", "HTTP/1.1 400 "},
    };
    for (const auto& other : others) {
        const std::string answer = httpResponse(parseHttpRequest(other.request), metrics);
        EXPECT_EQ(answer.rfind(other.status, 0), 0u) << answer;
        EXPECT_EQ(answer.find("kestipdata_locked"), std::string::npos) << answer;
    }
    EXPECT_NE(httpResponse(parseHttpRequest("PUT /metrics HTTP/1.1\r\n\r\n"), metrics).find("Allow: GET, HEAD\r\n"),
              std::string::npos);
    HttpRequest large;
    large.state = HttpRequest::State::TooLarge;
    EXPECT_EQ(httpResponse(large, metrics).rfind("HTTP/1.1 431 ", 0), 0u);
}

} // namespace
