#include "platform/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(DebugOutput, CaptureSeesEachTextInOrderAndRestoresPreviousSink)
{
    platform::DebugCapture outer;
    {
        platform::DebugCapture inner;
        OutputDebugStringA("first\n");
        OutputDebugStringA("second\n");
        OutputDebugStringA(nullptr);
        EXPECT_EQ(inner.texts(), (std::vector<std::string>{"first\n", "second\n"}));
        EXPECT_EQ(inner.all(), "first\nsecond\n");
    }
    OutputDebugStringA("after\n");
    EXPECT_EQ(outer.all(), "after\n");
}

TEST(Sleep, InjectedHandlerReceivesDurationsInsteadOfWaiting)
{
    std::vector<DWORD> slept;
    auto previous = platform::setSleepHandler([&](DWORD ms) { slept.push_back(ms); });
    Sleep(100000);
    Sleep(15);
    platform::setSleepHandler(previous);
    EXPECT_EQ(slept, (std::vector<DWORD>{100000, 15}));
}

TEST(CriticalSections, AreRecursiveAndExcludeOtherThreads)
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    std::atomic<int> counter{0};
    std::thread other;
    {
        platform::CritSecLock outer(section);
        platform::CritSecLock inner(section); // the owning thread may enter again
        other = std::thread([&] {
            platform::CritSecLock lock(section);
            counter = 2;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(counter.load(), 0) << "another thread entered a held critical section";
        counter = 1;
    }
    other.join();
    EXPECT_EQ(counter.load(), 2);
    DeleteCriticalSection(&section);
}

TEST(MessageBoxes, WithoutHandlerGoToStderrAnsweredOk)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Something failed\n", "Error", MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Something failed\n");
}

} // namespace
