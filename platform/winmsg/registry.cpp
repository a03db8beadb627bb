#include "platform/winmsg/registry.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace platform::winmsg::detail {

namespace {

struct Local {
    Window::Impl* window;
    std::thread::id owner;
};

std::mutex& registryMutex()
{
    static std::mutex mutex;
    return mutex;
}
// Handles are indexes + 1 into addresses(); they are never reused.
std::vector<Address>& addresses()
{
    static std::vector<Address> list;
    return list;
}
std::map<Address, size_t>& handles()
{
    static std::map<Address, size_t> map;
    return map;
}
std::map<Address, Local>& locals()
{
    static std::map<Address, Local> map;
    return map;
}

} // namespace

HWND handleFor(const Address& address)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = handles().find(address);
    if (it == handles().end()) {
        addresses().push_back(address);
        it = handles().emplace(address, addresses().size()).first;
    }
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(it->second));
}

bool addressOf(HWND hwnd, Address& address)
{
    const auto index = reinterpret_cast<uintptr_t>(hwnd);
    std::lock_guard<std::mutex> lock(registryMutex());
    if (index == 0 || index > addresses().size())
        return false;
    address = addresses()[index - 1];
    return true;
}

void addLocal(const Address& address, Window::Impl* window, std::thread::id owner)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    locals()[address] = Local{window, owner};
}

void removeLocal(const Address& address, const Window::Impl* window)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = locals().find(address);
    if (it != locals().end() && it->second.window == window)
        locals().erase(it);
}

Window::Impl* localOnThisThread(const Address& address)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = locals().find(address);
    if (it == locals().end() || it->second.owner != std::this_thread::get_id())
        return nullptr;
    return it->second.window;
}

bool isLocal(const Address& address)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    return locals().count(address) != 0;
}

int connectTo(const Address& target, int maxWaitMs)
{
    const std::string path = socketPath(target.title, target.instance);
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // A full backlog (EAGAIN) means a live but busy window: wait a little for room.
    const int64_t deadline = nowMs() + maxWaitMs;
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            uid_t uid;
            pid_t pid;
            if (peerCredentials(fd, uid, pid) && uid == ::geteuid())
                return fd;
            break;
        }
        if ((errno != EAGAIN && errno != EINTR) || (maxWaitMs >= 0 && nowMs() >= deadline))
            break;
        ::usleep(5000);
    }
    ::close(fd);
    return -1;
}

bool peerCredentials(int fd, uid_t& uid, pid_t& pid)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials)
        return false;
    uid = credentials.uid;
    pid = credentials.pid;
    return true;
}

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace platform::winmsg::detail
