// kestmkts, the writers' command-line tool: its options and the carriers of
// one transport stream side by side.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace {

const std::string kTool = std::string(KEST_BIN_DIR) + "/kestmkts";

// Exit status and output (both streams) of the tool with `arguments`.
int run(const std::string& arguments, std::string* output = nullptr)
{
    FILE* pipe = popen((kTool + " " + arguments + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    const int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Kestmkts, HelpTellsTheCarriersAndBadCombinationsAreRefused)
{
    std::string help;
    EXPECT_EQ(run("--help", &help), 0);
    for (const char* option : {"--ule N", "--gse", "--bbframe-pid N", "--raw-bbframes", "--isi N", "--frame-size"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    EXPECT_EQ(run("--raw-bbframes --ule 0x200 --count 1 /dev/null"), 2) << "raw frames are no transport stream";
    EXPECT_EQ(run("--gse --frame-size 50 --count 1 /dev/null"), 2) << "a frame too small for any packet";
    EXPECT_EQ(run("--ule 9000 --count 1 /dev/null"), 2);
    // Numbers are whole: "-1" is no count (it was read as the largest one, and the
    // tool wrote until the disk was full), "10x" no count either.
    for (const char* bad : {"--count -1", "--count 10x", "--bytes -5", "--payload 100x --count 1",
                            "--payload 100:50 --count 1", "--isi -1 --gse --count 1", "--seed -1 --count 1"})
        EXPECT_EQ(run(std::string(bad) + " /dev/null"), 2) << bad;
}

// MPE, ULE and the pseudo transport stream in one file: whole packets, each
// PID's continuity counter unbroken, and baseband frames starting with the
// header packet's marker.
TEST(Kestmkts, OneStreamCarriesMpeUleAndTheBasebandFramePid)
{
    const std::string path = testing::TempDir() + "kestmkts_mixed.ts";
    ASSERT_EQ(run("--count 60 --payload 8:1400 --pid 0x100 --ule 0x200 --gse --bbframe-pid 0x118 " + path), 0);
    const std::vector<uint8_t> ts = readFile(path);
    ASSERT_FALSE(ts.empty());
    ASSERT_EQ(ts.size() % 188, 0u);
    std::map<int, int> packets, lastContinuity;
    int frameStarts = 0;
    for (size_t at = 0; at < ts.size(); at += 188) {
        const uint8_t* p = ts.data() + at;
        ASSERT_EQ(p[0], 0x47) << at;
        const int pid = (p[1] & 0x1F) << 8 | p[2];
        const int continuity = p[3] & 0x0F;
        if (lastContinuity.count(pid)) {
            EXPECT_EQ(continuity, (lastContinuity[pid] + 1) & 0x0F) << "PID " << pid << " at " << at;
        }
        lastContinuity[pid] = continuity;
        ++packets[pid];
        if (pid == 0x118 && p[8] == 0xB8) {
            EXPECT_EQ(p[1] & 0x40, 0x40) << "a frame's first packet starts a unit";
            ++frameStarts;
        }
    }
    EXPECT_EQ(packets.size(), 3u);
    EXPECT_GT(packets[0x100], 0);
    EXPECT_GT(packets[0x200], 0);
    // 20 datagrams of up to 1428 bytes in 6051-byte frames, and the closing padding frame.
    EXPECT_GE(frameStarts, 3);
    std::remove(path.c_str());
}

} // namespace
