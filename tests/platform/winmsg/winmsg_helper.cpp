// Second process for the window-message tests.
//   serve TITLE   register, say "ready", pump: WM_USER+1 answers wParam+lParam,
//                 WM_COPYDATA answers the byte sum of the payload, WM_USER+2 ends it
//   hang TITLE    register, say "ready", never pump
//   race TITLE    wait for a line on stdin, try to register, say "won" or "lost",
//                 keep the registration until stdin closes
#include "platform/winmsg/winmsg.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    if (mode == "race") {
        char line[16];
        if (std::fgets(line, sizeof line, stdin) == nullptr)
            return 2;
        platform::winmsg::Window contender(argv[2], {});
        say(contender.registered() ? "won" : "lost");
        while (std::fgets(line, sizeof line, stdin) != nullptr) {
        }
        return 0;
    }
    bool quit = false;
    platform::winmsg::Window window(argv[2], [&](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_USER + 1)
            return static_cast<LRESULT>(wParam) + lParam;
        if (msg == WM_USER + 2) {
            quit = true;
            return 1;
        }
        if (msg == WM_COPYDATA) {
            const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            LRESULT sum = 0;
            for (DWORD i = 0; i < copy->cbData; ++i)
                sum += static_cast<const unsigned char*>(copy->lpData)[i];
            return sum + static_cast<LRESULT>(copy->dwData);
        }
        return -1;
    });
    if (!window.registered()) {
        say("taken");
        return 1;
    }
    say("ready");
    if (mode == "hang") {
        for (;;)
            ::pause();
    }
    while (!quit)
        window.pump(-1);
    return 0;
}
