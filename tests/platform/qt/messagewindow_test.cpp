#include "../winmsg/runtimedir.h"

#include "platform/qt/messagewindow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

using platform::qt::MessageWindow;

// The QApplication comes from messagebox_test.cpp's environment.

// Sends from another thread (so through the socket) while the event loop runs.
LRESULT sendWhilePumping(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    std::atomic<bool> done{false};
    LRESULT result = 0;
    std::thread sender([&] {
        result = SendMessageA(hwnd, msg, wParam, lParam);
        done = true;
    });
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    sender.join();
    return result;
}

TEST(MessageWindow, EventLoopDeliversToTheApplicationFilterFirstThenTheHandler)
{
    std::vector<UINT> handled;
    MessageWindow window("Kest Ip Data 1.04 @ Kest Spruce DVB-S2", [&](MSG* message, LRESULT* result) {
        handled.push_back(message->message);
        if (message->wParam == 0xBAD)
            throw std::runtime_error("handler fault");
        if (message->message != WM_USER)
            return false;
        *result = static_cast<LRESULT>(message->lParam) + 1;
        return true;
    });
    ASSERT_TRUE(window.registered());
    MessageWindow clash("Kest Ip Data 1.04 @ Kest Spruce DVB-S2", {});
    EXPECT_FALSE(clash.registered());

    HWND hwnd = FindWindowA(nullptr, "Kest Ip Data 1.04 @ Kest Spruce DVB-S2");
    ASSERT_EQ(hwnd, window.hwnd());
    EXPECT_EQ(sendWhilePumping(hwnd, WM_USER, 0x1010000, 11747), 11748);
    EXPECT_EQ(sendWhilePumping(hwnd, WM_USER + 1, 0, 0), 0) << "not handled: default result";
    EXPECT_EQ(sendWhilePumping(hwnd, WM_USER, 0xBAD, 0), 0) << "a throwing handler answers 0";

    auto previous = MessageWindow::setApplicationFilter([&](MSG* message, LRESULT* result) {
        if (message->hwnd != hwnd || message->wParam != 7)
            return false;
        *result = 700;
        return true;
    });
    EXPECT_EQ(sendWhilePumping(hwnd, WM_USER, 7, 1), 700);
    EXPECT_EQ(sendWhilePumping(hwnd, WM_USER, 8, 1), 2);
    MessageWindow::setApplicationFilter(previous);
    EXPECT_EQ(handled, (std::vector<UINT>{WM_USER, WM_USER + 1, WM_USER, WM_USER}));
}

} // namespace
