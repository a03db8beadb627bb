// TransponderChange against stand-in receiver windows in this process: which
// window it picks, the message sequence, and the value conversions.
#include "kestapi/kestapi.h"
#include "platform/winmsg/winmsg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Message = std::tuple<UINT, WPARAM, LPARAM>;

// A window with the receiver's title that records what reaches it, pumped on
// a thread of its own as the receiver's GUI thread would.
class FakeReceiver {
public:
    explicit FakeReceiver(const std::string& title, const std::string& instance = {})
        : window_(
              title,
              [this](UINT msg, WPARAM w, LPARAM l) {
                  std::lock_guard<std::mutex> lock(mutex_);
                  messages_.emplace_back(msg, w, l);
                  return LRESULT(1);
              },
              instance)
    {
        thread_ = std::thread([this] {
            while (!stop_)
                window_.pump(20);
        });
    }
    ~FakeReceiver()
    {
        stop_ = true;
        thread_.join();
    }
    bool registered() const { return window_.registered(); }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }
    std::vector<Message> messages()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

private:
    std::mutex mutex_;
    std::vector<Message> messages_;
    std::atomic<bool> stop_{false};
    platform::winmsg::Window window_;
    std::thread thread_;
};

class KestApi : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Windows of this test only: a runtime directory of its own.
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_ = [] {
        char pattern[] = "/tmp/kestapi-test-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
};

TransponderInfo sample()
{
    TransponderInfo info{};
    info.reserved = 0xDEADBEEF;
    info.forwarded = 0xFFFFFFFE;
    info.horizontal = 5;
    info.frequencyKhz = 11747999;
    info.symbolRate = 22000000;
    info.pid1 = 1001;
    info.pid2 = 0x1FFF;
    return info;
}

constexpr const char* kSpruce = "Kest Ip Data 1.04 @ Kest Spruce DVB-S2";
constexpr const char* kCedar = "Kest Ip Data 1.04 @ Kest Cedar DVB-S2";
constexpr const char* kBirch = "Kest Ip Data 1.04 @ Kest Birch DVB-S";

} // namespace

TEST_F(KestApi, SendsTheWholeSequenceToTheReceiver)
{
    FakeReceiver spruce(kSpruce);
    ASSERT_TRUE(spruce.registered());
    const TransponderInfo info = sample();
    ASSERT_EQ(TransponderChange(0, &info), 0);
    const std::vector<Message> expected = {
        {WM_USER, 0x1010000, 11747}, {WM_USER, 0x1020000, 22000}, {WM_USER, 0x1030000, 0},
        {WM_USER, 0x1040000, -2},    {WM_USER, 0x2000000, 0},     {WM_USER, 0x1090000, 1001},
        {WM_USER, 0x1090000, 0x1FFF},
    };
    EXPECT_EQ(spruce.messages(), expected);
}

TEST_F(KestApi, TheStreamCallSendsTheStreamAndPlsBeforeTheApply)
{
    FakeReceiver spruce(kSpruce);
    const TransponderInfo info = sample();
    ASSERT_EQ(TransponderChangeStream(0, &info, 3, KESTAPI_PLS_ROOT, 262143), 0);
    const std::vector<Message> expected = {
        {WM_USER, 0x1010000, 11747}, {WM_USER, 0x1020000, 22000}, {WM_USER, 0x1030000, 0},
        {WM_USER, 0x1040000, -2},    {WM_USER, 0x1050000, 3},     {WM_USER, 0x1060000, 0},
        {WM_USER, 0x1070000, 262143}, {WM_USER, 0x2000000, 0},    {WM_USER, 0x1090000, 1001},
        {WM_USER, 0x1090000, 0x1FFF},
    };
    EXPECT_EQ(spruce.messages(), expected);
    EXPECT_EQ(TransponderChangeStream(0, nullptr, KESTAPI_NO_STREAM, KESTAPI_PLS_GOLD, 0), 21);
}

TEST_F(KestApi, VerticalPolarisationSelectsTheSecondItem)
{
    FakeReceiver birch(kBirch);
    TransponderInfo info = sample();
    info.horizontal = 0;
    info.frequencyKhz = 11747000;
    ASSERT_EQ(TransponderChange(0, &info), 0);
    const auto messages = birch.messages();
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_EQ(std::get<2>(messages[0]), 11747);
    EXPECT_EQ(std::get<2>(messages[2]), 1);
}

TEST_F(KestApi, PicksTheFirstTitleInItsOrder)
{
    FakeReceiver birch(kBirch), cedar(kCedar);
    const TransponderInfo info = sample();
    ASSERT_EQ(TransponderChange(0, &info), 0);
    EXPECT_EQ(cedar.messages().size(), 7u);
    EXPECT_TRUE(birch.messages().empty());
}

// Beside named copies the call without a name still reaches the copy without one,
// and a named call only the copy of its name.
TEST_F(KestApi, NamedAndUnnamedCallsEachReachTheirOwnCopy)
{
    const std::string kCedarTitle = kCedar;
    FakeReceiver plain(kCedarTitle), east(kCedarTitle + " [east]", "east"), west(std::string(kBirch) + " [west]", "west");
    // A named copy's windows are in its own folder: the title alone is not enough.
    FakeReceiver stray(kCedarTitle + " [north]");
    const TransponderInfo info = sample();
    ASSERT_EQ(TransponderChange(0, &info), 0);
    ASSERT_EQ(TransponderChangeInstance("", 0, &info), 0);
    EXPECT_EQ(plain.messages().size(), 14u);
    ASSERT_EQ(TransponderChangeInstance("west", 0, &info), 0);
    EXPECT_EQ(west.messages().size(), 7u);
    EXPECT_TRUE(east.messages().empty());
    EXPECT_EQ(TransponderChangeInstance("north", 0, &info), 21);
    EXPECT_TRUE(stray.messages().empty());
    // Calls for different copies from different threads at once each reach their own.
    std::thread toEast([&] { EXPECT_EQ(TransponderChangeInstance("east", 0, &info), 0); });
    EXPECT_EQ(TransponderChangeInstance("west", 0, &info), 0);
    toEast.join();
    EXPECT_EQ(east.messages().size(), 7u);
    EXPECT_EQ(west.messages().size(), 14u);
    east.clear();
    EXPECT_EQ(TransponderChangeInstance("West", 0, &info), 21) << "names are exact";
    EXPECT_EQ(TransponderChangeInstance("east]", 0, &info), 21);
    EXPECT_EQ(TransponderChangeInstance("east", 0, nullptr), 21);
    EXPECT_TRUE(east.messages().empty());
}

TEST_F(KestApi, NoReceiverOrNoRecordGives21AndSendsNothing)
{
    const TransponderInfo info = sample();
    EXPECT_EQ(TransponderChange(0, &info), 21);
    FakeReceiver other("Kest Ip Data 1.05 @ Kest Cedar DVB-S2"); // another version is not found
    EXPECT_EQ(TransponderChange(0, &info), 21);
    FakeReceiver cedar(kCedar);
    EXPECT_EQ(TransponderChange(0, nullptr), 21);
    EXPECT_TRUE(cedar.messages().empty());
    EXPECT_TRUE(other.messages().empty());
}
