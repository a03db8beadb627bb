#include "childprocess.h"
#include "runtimedir.h"

#include "platform/winmsg/winmsg.h"
#include "platform/winmsg/wire.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

using namespace platform::winmsg;

namespace {

const std::string helper = std::string(KEST_BIN_DIR) + "/winmsg_test_helper";

int64_t msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

int rawConnect(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A window pumped on a thread of its own, counting what reaches its handler.
class PumpedWindow {
public:
    explicit PumpedWindow(const std::string& title)
    {
        thread_ = std::thread([this, title] {
            Window window(title, [this](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
                onPumpThread = std::this_thread::get_id() == thread_.get_id();
                ++handled;
                if (msg == WM_COPYDATA)
                    return static_cast<LRESULT>(reinterpret_cast<const COPYDATASTRUCT*>(lParam)->cbData);
                return static_cast<LRESULT>(wParam) * 2 + lParam;
            });
            registered = window.registered();
            ready = true;
            while (!stop)
                window.pump(20);
        });
        while (!ready)
            std::this_thread::yield();
    }
    ~PumpedWindow()
    {
        stop = true;
        thread_.join();
    }
    std::atomic<bool> ready{false}, stop{false}, registered{false}, onPumpThread{false};
    std::atomic<int> handled{0};

private:
    std::thread thread_;
};

TEST(WindowMessages, OwnWindowIsFoundByExactTitleAndCalledDirectly)
{
    EXPECT_EQ(FindWindowA(nullptr, "Own window"), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, nullptr), nullptr);
    std::vector<UINT> seen;
    {
        Window window("Own window", [&](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            seen.push_back(msg);
            if (msg == WM_COPYDATA)
                return static_cast<const char*>(reinterpret_cast<COPYDATASTRUCT*>(lParam)->lpData)[0];
            return static_cast<LRESULT>(wParam) - lParam;
        });
        ASSERT_TRUE(window.registered());
        EXPECT_EQ(FindWindowA(nullptr, "Own window"), window.hwnd());
        EXPECT_EQ(FindWindowA("AnyClass", "Own window"), window.hwnd());
        EXPECT_EQ(FindWindowA(nullptr, "Own windo"), nullptr);
        EXPECT_EQ(FindWindowA(nullptr, "own window"), nullptr);

        // No pump runs: only a direct call can answer.
        EXPECT_EQ(SendMessageA(window.hwnd(), WM_USER, 10, 3), 7);
        char text[] = "Z";
        COPYDATASTRUCT copy{0, 2, text};
        DWORD_PTR result = 0;
        EXPECT_NE(SendMessageTimeoutA(window.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy),
                                      SMTO_ABORTIFHUNG, 100, &result), 0);
        EXPECT_EQ(result, static_cast<DWORD_PTR>('Z'));
        EXPECT_EQ(seen, (std::vector<UINT>{WM_USER, WM_COPYDATA}));

        Window second("Own window", {});
        EXPECT_FALSE(second.registered());

        struct stat st{};
        ASSERT_EQ(::stat(windowDirectory().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ASSERT_EQ(::stat(socketPath("Own window").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(FindWindowA(nullptr, "Own window"), nullptr);
    EXPECT_EQ(SendMessageA(reinterpret_cast<HWND>(0x7777), WM_USER, 1, 1), 0);
    Window again("Own window", {});
    EXPECT_TRUE(again.registered());
}

// Each named copy keeps its windows in a folder of its own: the same title
// lives once per copy, and a look-up in one copy's folder never finds another's.
TEST(WindowMessages, NamedCopiesHaveFoldersOfTheirOwn)
{
    const std::string runtime = kesttest::runtimeDir->dir();
    EXPECT_EQ(windowDirectory(), runtime + "/kest-windows");
    EXPECT_EQ(windowDirectory("alpha"), runtime + "/kest-windows@alpha");
    struct stat st{};
    ASSERT_EQ(::lstat((runtime + "/kest-windows@alpha").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    Window unnamed("Same title", [](UINT, WPARAM, LPARAM) -> LRESULT { return 1; });
    Window alpha("Same title", [](UINT, WPARAM, LPARAM) -> LRESULT { return 2; }, "alpha");
    ASSERT_TRUE(unnamed.registered());
    ASSERT_TRUE(alpha.registered()) << "a named copy's title is not taken by the unnamed copy's";
    EXPECT_EQ(SendMessageA(FindWindowA(nullptr, "Same title"), WM_USER, 0, 0), 1);
    EXPECT_EQ(SendMessageA(findWindow("alpha", "Same title"), WM_USER, 0, 0), 2);
    EXPECT_EQ(findWindow("beta", "Same title"), nullptr);
    EXPECT_EQ(alpha.instance(), "alpha");

    // A name that could leave the folder's parent is never used.
    std::string problem;
    EXPECT_EQ(windowDirectory("../alpha", &problem), "");
    EXPECT_NE(problem.find("not a valid instance name"), std::string::npos) << problem;
    EXPECT_FALSE(Window("Escaped", {}, "../x").registered());
    EXPECT_EQ(findWindow("../alpha", "Same title"), nullptr);

    // A named folder gets the unnamed one's checks: no link, nobody else's.
    ASSERT_EQ(::symlink(runtime.c_str(), (runtime + "/kest-windows@linked").c_str()), 0);
    EXPECT_EQ(windowDirectory("linked", &problem), "");
    EXPECT_NE(problem.find("symbolic link"), std::string::npos) << problem;
    if (::geteuid() == 0) {
        ASSERT_EQ(::mkdir((runtime + "/kest-windows@taken").c_str(), 0700), 0);
        ASSERT_EQ(::chown((runtime + "/kest-windows@taken").c_str(), 65534, 65534), 0);
        EXPECT_EQ(windowDirectory("taken", &problem), "");
        EXPECT_NE(problem.find("belongs to another user"), std::string::npos) << problem;
        EXPECT_FALSE(Window("Taken", {}, "taken").registered());
    }
}

// Socket names must fit sun_path: a runtime directory that leaves room for the
// unnamed copy's folder but not for a long name is passed over by that name only.
TEST(WindowMessages, ANamedFolderTooDeepForSocketsMovesOutOfTheRuntimeDirectory)
{
    const std::string runtime = kesttest::runtimeDir->dir();
    const std::string deep = runtime + "/" + std::string(63 - runtime.size() - 1, 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
    ASSERT_EQ(::setenv("XDG_RUNTIME_DIR", deep.c_str(), 1), 0);
    std::string name = "t" + std::to_string(::getpid());
    name.resize(32, 'x');
    std::string folder;
    {
        Window window("Long", [](UINT, WPARAM, LPARAM) -> LRESULT { return 5; }, name);
        folder = windowDirectory(name);
        EXPECT_EQ(windowDirectory(), deep + "/kest-windows");
        EXPECT_EQ(folder.rfind(deep, 0), std::string::npos) << folder;
        EXPECT_EQ(folder.substr(folder.size() - name.size() - 1), "@" + name);
        ASSERT_TRUE(window.registered()) << folder;
        EXPECT_EQ(SendMessageA(findWindow(name, "Long"), WM_USER, 0, 0), 5);
    }
    ::rmdir(folder.c_str());
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

TEST(WindowMessages, OtherThreadsReachTheWindowOnItsPumpThread)
{
    PumpedWindow window("Threaded");
    ASSERT_TRUE(window.registered);
    HWND hwnd = FindWindowA(nullptr, "Threaded");
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 20, 1), 41);
    std::vector<char> big(kMaxCopyData, 'x');
    COPYDATASTRUCT copy{0, kMaxCopyData, big.data()};
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutA(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL, 5000, &result), 0);
    EXPECT_EQ(result, kMaxCopyData);
    copy.cbData = kMaxCopyData + 1;
    big.push_back('x');
    EXPECT_EQ(SendMessageTimeoutA(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL, 5000, &result), 0);
    EXPECT_EQ(window.handled, 2);
    EXPECT_TRUE(window.onPumpThread);
}

TEST(WindowMessages, AHandlerThatPumpsAgainLeavesTheNextMessageWaitingForItsAnswer)
{
    // As a handler that opens a modal box runs a nested event loop: handlers
    // never nest, the second message is handled once the first is answered.
    std::atomic<bool> ready{false}, stop{false}, outerRunning{false};
    std::atomic<int> innerCalls{0}, innerCallsWhileOuterRan{-1};
    std::thread pumper([&] {
        std::unique_ptr<Window> window;
        window = std::make_unique<Window>("Nested", [&](UINT msg, WPARAM, LPARAM) -> LRESULT {
            if (msg == WM_USER + 5) {
                outerRunning = true;
                for (int i = 0; i < 15; ++i)
                    window->pump(20);
                innerCallsWhileOuterRan = innerCalls.load();
                return 55;
            }
            ++innerCalls;
            return 66;
        });
        ready = true;
        while (!stop)
            window->pump(20);
    });
    while (!ready)
        std::this_thread::yield();
    HWND hwnd = FindWindowA(nullptr, "Nested");
    ASSERT_NE(hwnd, nullptr);
    LRESULT outer = 0;
    std::thread sender([&] { outer = SendMessageA(hwnd, WM_USER + 5, 0, 0); });
    while (!outerRunning)
        std::this_thread::yield();
    EXPECT_EQ(SendMessageA(hwnd, WM_USER + 6, 0, 0), 66);
    sender.join();
    EXPECT_EQ(outer, 55);
    EXPECT_EQ(innerCallsWhileOuterRan, 0) << "a handler ran inside another";
    EXPECT_EQ(innerCalls, 1);
    stop = true;
    pumper.join();
}

TEST(WindowMessages, ProcessesExchangeMessagesAndPayloads)
{
    kesttest::ChildProcess child({helper, "serve", "Kest Ip Data 1.04 @ Kest Cedar DVB-S2"});
    ASSERT_EQ(child.readLine(), "ready");
    HWND hwnd = FindWindowA(nullptr, "Kest Ip Data 1.04 @ Kest Cedar DVB-S2");
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "Kest Ip Data 1.04 @ Kest Maple DVB-S2"), nullptr);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(SendMessageA(hwnd, WM_USER + 1, 0x1010000, i), 0x1010000 + i);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER + 1, 5, -7), -2);

    unsigned char bytes[] = {1, 2, 3, 250};
    COPYDATASTRUCT copy{1000, sizeof bytes, bytes};
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutA(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG, 5000,
                                  &result), 0);
    EXPECT_EQ(result, 1256u);

    EXPECT_EQ(SendMessageA(hwnd, WM_USER + 2, 0, 0), 1);
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(FindWindowA(nullptr, "Kest Ip Data 1.04 @ Kest Cedar DVB-S2"), nullptr);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER + 1, 1, 1), 0);
}

TEST(WindowMessages, TimeoutIsHonouredWithAHungOrStoppedReceiver)
{
    kesttest::ChildProcess hung({helper, "hang", "Hung"});
    ASSERT_EQ(hung.readLine(), "ready");
    HWND hwnd = FindWindowA(nullptr, "Hung");
    ASSERT_NE(hwnd, nullptr);
    DWORD_PTR result = 77;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendMessageTimeoutA(hwnd, WM_USER, 1, 2, SMTO_ABORTIFHUNG, 300, &result), 0);
    const int64_t waited = msSince(start);
    EXPECT_GE(waited, 290);
    EXPECT_LT(waited, 5000);
    EXPECT_EQ(result, 77u);

    // A stopped receiver is given up at once, long before the timeout.
    kesttest::ChildProcess stopped({helper, "serve", "Stopped"});
    ASSERT_EQ(stopped.readLine(), "ready");
    HWND target = FindWindowA(nullptr, "Stopped");
    ASSERT_NE(target, nullptr);
    stopped.kill(SIGSTOP);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendMessageTimeoutA(target, WM_USER + 1, 1, 2, SMTO_ABORTIFHUNG, 60000, &result), 0);
    EXPECT_LT(msSince(start), 30000);
    stopped.kill(SIGCONT);
    EXPECT_NE(SendMessageTimeoutA(target, WM_USER + 1, 1, 2, SMTO_ABORTIFHUNG, 5000, &result), 0);
    EXPECT_EQ(result, 3u);
}

TEST(WindowMessages, GarbageOnTheSocketDoesNotDisturbTheReceiver)
{
    PumpedWindow window("Target");
    ASSERT_TRUE(window.registered);
    const std::string path = socketPath("Target");

    auto request = [](const std::string& title, UINT msg, const std::string& data) {
        return wire::encodeRequest(title, msg, 1, 2, data.data(), static_cast<DWORD>(data.size()));
    };
    std::vector<std::vector<uint8_t>> bad;
    bad.push_back({1, 2, 3});
    bad.push_back(std::vector<uint8_t>(wire::kRequestHeader, 0xFF));
    std::vector<uint8_t> truncated = request("Target", WM_COPYDATA, "payload");
    truncated.resize(truncated.size() - 3);
    bad.push_back(truncated);
    std::vector<uint8_t> longer = request("Target", WM_USER, "");
    longer.push_back(0);
    bad.push_back(longer);
    bad.push_back(request("Targe", WM_USER, ""));
    std::vector<uint8_t> dataOnPlainMessage = request("Target", WM_COPYDATA, "abc");
    dataOnPlainMessage[4] = 0x00;
    dataOnPlainMessage[5] = 0x04; // WM_USER with a payload
    bad.push_back(dataOnPlainMessage);
    std::vector<uint8_t> hugeLength = request("Target", WM_COPYDATA, "abc");
    hugeLength[15] = 0x7F;
    bad.push_back(hugeLength);
    bad.push_back(std::vector<uint8_t>(wire::kMaxRequest + 100, 0));

    for (const auto& packet : bad) {
        const int fd = rawConnect(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL), static_cast<ssize_t>(packet.size()));
        // Refused: the receiver hangs up without an answer.
        char reply[32];
        EXPECT_EQ(::recv(fd, reply, sizeof reply, 0), 0);
        ::close(fd);
    }
    // Connections that never send anything, more than the receiver keeps.
    std::vector<int> idle;
    for (int i = 0; i < 40; ++i)
        idle.push_back(rawConnect(path));

    HWND hwnd = FindWindowA(nullptr, "Target");
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 100, 5), 205);
    EXPECT_EQ(window.handled, 1);
    for (int fd : idle)
        ::close(fd);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 1, 1), 3);
}

TEST(WindowMessages, RequestsFromAnotherUserAreRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    PumpedWindow window("Private");
    ASSERT_TRUE(window.registered);
    const std::string path = socketPath("Private");
    // Open the way through the file modes, so that only the uid check stands.
    ASSERT_EQ(::chmod(kesttest::runtimeDir->dir().c_str(), 0711), 0);
    ASSERT_EQ(::chmod(windowDirectory().c_str(), 0711), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);

    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
            ::_exit(10);
        const int fd = rawConnect(path);
        if (fd < 0)
            ::_exit(11);
        const auto packet = wire::encodeRequest("Private", WM_USER, 1, 1, nullptr, 0);
        ::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL);
        char reply[32];
        ::_exit(::recv(fd, reply, sizeof reply, 0) > 0 ? 12 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(window.handled, 0);
    // Our own requests still pass (and the directory is made private again).
    HWND hwnd = FindWindowA(nullptr, "Private");
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 1, 1), 3);
    struct stat st{};
    ASSERT_EQ(::stat(windowDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(WindowMessages, RegistrationOfAKilledProcessIsIgnoredAndReplaced)
{
    kesttest::ChildProcess child({helper, "serve", "Stale"});
    ASSERT_EQ(child.readLine(), "ready");
    ASSERT_NE(FindWindowA(nullptr, "Stale"), nullptr);
    child.kill(SIGKILL);
    child.wait();
    struct stat st{};
    ASSERT_EQ(::stat(socketPath("Stale").c_str(), &st), 0) << "the dead process leaves its socket behind";
    EXPECT_EQ(FindWindowA(nullptr, "Stale"), nullptr);
    Window window("Stale", [](UINT, WPARAM, LPARAM) -> LRESULT { return 5; });
    EXPECT_TRUE(window.registered());
    EXPECT_EQ(FindWindowA(nullptr, "Stale"), window.hwnd());
}

TEST(WindowMessages, OfProcessesRacingForATitleExactlyOneWins)
{
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<kesttest::ChildProcess>> racers;
        for (int i = 0; i < 6; ++i)
            racers.push_back(std::make_unique<kesttest::ChildProcess>(
                std::vector<std::string>{helper, "race", "KestIPData"}));
        for (auto& racer : racers)
            racer->writeLine("go");
        int won = 0, lost = 0;
        for (auto& racer : racers) {
            const std::string answer = racer->readLine();
            won += answer == "won";
            lost += answer == "lost";
        }
        EXPECT_EQ(won, 1);
        EXPECT_EQ(lost, 5);
        for (auto& racer : racers) {
            racer->closeInput();
            EXPECT_EQ(racer->wait(), 0);
        }
    }
}

} // namespace
