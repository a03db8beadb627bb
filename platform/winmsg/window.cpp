#include "platform/winmsg/registry.h"
#include "platform/winmsg/wire.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

namespace platform::winmsg {

namespace {

// Connections waiting for their request, at most. At the limit no more are
// accepted (they wait in the backlog); one that has sent nothing for
// kIdleDropMs is closed then, so that idle connections cannot shut the window
// for good. A sender writes its request right after connecting: a connection
// that is younger, or that holds a request, is never closed unanswered.
constexpr size_t kMaxConnections = 32;
constexpr int64_t kIdleDropMs = 2000;

bool hasPendingRequest(int fd)
{
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN) != 0;
}

bool sameFile(int fd, const std::string& path)
{
    struct stat open{}, named{};
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev
        && open.st_ino == named.st_ino;
}

// Holding an exclusive flock on the title's lock file is what owns the title;
// the kernel drops it when the process dies, so dead owners never block.
int lockTitle(const std::string& lockPath)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return -1;
        }
        // The owner before us may have unlinked the file between our open and lock.
        if (sameFile(fd, lockPath))
            return fd;
        ::close(fd);
    }
    return -1;
}

} // namespace

struct Window::Impl {
    struct Connection {
        int fd;
        int64_t acceptedMs;
    };

    std::string title;
    std::string instance;
    Handler handler;
    HWND hwnd = nullptr;
    std::string socketPath;
    std::string lockPath;
    int lockFd = -1;
    int listenFd = -1;
    int epollFd = -1;
    int timerFd = -1; // wakes the window when an idle connection may be closed
    bool registered = false;
    bool listening = false; // the listening socket is watched
    bool serving = false;   // a handler is running (and may pump again)
    std::deque<Connection> connections; // accepted, waiting for a request; oldest first
    std::vector<uint8_t> buffer;

    bool open();
    void close();
    void watch(int fd);
    void unwatch(int fd);
    void forget(int fd); // out of the waiting list and the watch set, still open
    void drop(int fd);
    bool isWaiting(int fd) const;
    void closeIdle();
    void acceptAll();
    void pauseAccepting();
    void resumeAccepting();
    // True when a message was handled, false when the connection was only closed.
    bool serve(int fd);
    LRESULT deliver(UINT msg, WPARAM wParam, LPARAM lParam)
    {
        return handler ? handler(msg, wParam, lParam) : 0;
    }
};

bool Window::Impl::open()
{
    if (title.size() > kMaxTitle)
        return false;
    socketPath = winmsg::socketPath(title, instance);
    if (socketPath.empty())
        return false;
    lockPath = socketPath.substr(0, socketPath.size() - 5) + ".lock";
    lockFd = lockTitle(lockPath);
    if (lockFd < 0)
        return false;

    // Bind under a private name and rename into place, so that a sender never
    // finds a socket that is not listening yet.
    const std::string temporary = socketPath + "." + std::to_string(::getpid());
    sockaddr_un address{};
    if (temporary.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, temporary.c_str(), temporary.size() + 1);
    ::unlink(temporary.c_str());
    listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    if (::chmod(temporary.c_str(), 0600) != 0 || ::listen(listenFd, 16) != 0
        || ::rename(temporary.c_str(), socketPath.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (epollFd < 0 || timerFd < 0)
        return false;
    watch(listenFd);
    watch(timerFd);
    listening = true;
    buffer.resize(wire::kMaxRequest + 1);
    return true;
}

void Window::Impl::close()
{
    for (const Connection& c : connections)
        ::close(c.fd);
    connections.clear();
    if (listenFd >= 0)
        ::close(listenFd);
    if (epollFd >= 0)
        ::close(epollFd);
    if (timerFd >= 0)
        ::close(timerFd);
    if (lockFd >= 0) {
        // Unlink while still holding the lock: the next owner checks that the
        // file it locked is still the one under the name.
        if (registered) {
            ::unlink(socketPath.c_str());
            ::unlink(lockPath.c_str());
        }
        ::close(lockFd);
    }
    listenFd = epollFd = timerFd = lockFd = -1;
}

void Window::Impl::watch(int fd)
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
}

void Window::Impl::unwatch(int fd) { ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr); }

void Window::Impl::forget(int fd)
{
    auto it = std::find_if(connections.begin(), connections.end(), [fd](const Connection& c) { return c.fd == fd; });
    if (it != connections.end())
        connections.erase(it);
    unwatch(fd);
    resumeAccepting();
}

void Window::Impl::drop(int fd)
{
    forget(fd);
    ::close(fd);
}

bool Window::Impl::isWaiting(int fd) const
{
    return std::any_of(connections.begin(), connections.end(), [fd](const Connection& c) { return c.fd == fd; });
}

// Closes the connections that have sent nothing for kIdleDropMs.
void Window::Impl::closeIdle()
{
    const int64_t now = detail::nowMs();
    std::vector<int> idle;
    for (const Connection& c : connections)
        if (now - c.acceptedMs >= kIdleDropMs && !hasPendingRequest(c.fd))
            idle.push_back(c.fd);
    for (int fd : idle)
        drop(fd);
}

// At the limit: new connections wait in the backlog, and the timer wakes the
// window when the oldest waiting one may be closed for idleness.
void Window::Impl::pauseAccepting()
{
    if (listening) {
        unwatch(listenFd);
        listening = false;
    }
    const int64_t wait = std::max<int64_t>(1, connections.front().acceptedMs + kIdleDropMs - detail::nowMs());
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(wait / 1000);
    when.it_value.tv_nsec = static_cast<long>(wait % 1000) * 1000000;
    ::timerfd_settime(timerFd, 0, &when, nullptr);
}

void Window::Impl::resumeAccepting()
{
    if (listening || connections.size() >= kMaxConnections)
        return;
    const itimerspec off{};
    ::timerfd_settime(timerFd, 0, &off, nullptr);
    watch(listenFd);
    listening = true;
}

void Window::Impl::acceptAll()
{
    for (int i = 0; i < 64; ++i) {
        if (connections.size() >= kMaxConnections) {
            closeIdle();
            if (connections.size() >= kMaxConnections) {
                pauseAccepting();
                return;
            }
        }
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        uid_t uid;
        pid_t pid;
        if (!detail::peerCredentials(fd, uid, pid) || uid != ::geteuid()) {
            ::close(fd);
            continue;
        }
        connections.push_back(Connection{fd, detail::nowMs()});
        watch(fd);
    }
}

bool Window::Impl::serve(int fd)
{
    const ssize_t size = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (size < 0 && (errno == EAGAIN || errno == EINTR))
        return false;
    wire::Request request;
    if (size <= 0 || static_cast<size_t>(size) >= buffer.size()
        || !wire::decodeRequest(buffer.data(), static_cast<size_t>(size), request) || request.title != title) {
        drop(fd);
        return false;
    }
    // Out of the watch set until its reply is sent; then closed, as a sender
    // makes one connection per message.
    forget(fd);

    LRESULT result;
    struct Serving {
        bool& flag;
        explicit Serving(bool& f) : flag(f) { flag = true; }
        ~Serving() { flag = false; }
    } busy(serving);
    if (request.msg == WM_COPYDATA) {
        std::vector<uint8_t> payload(request.data, request.data + request.dataSize);
        COPYDATASTRUCT copy{static_cast<ULONG_PTR>(request.lParam), request.dataSize,
                            payload.empty() ? nullptr : payload.data()};
        result = deliver(WM_COPYDATA, request.wParam, reinterpret_cast<LPARAM>(&copy));
    } else {
        result = deliver(request.msg, request.wParam, request.lParam);
    }
    const std::vector<uint8_t> reply = wire::encodeReply(result);
    ::send(fd, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::close(fd);
    return true;
}

Window::Window(std::string title, Handler handler, std::string instance) : impl_(std::make_unique<Impl>())
{
    impl_->title = std::move(title);
    impl_->instance = std::move(instance);
    impl_->handler = std::move(handler);
    impl_->hwnd = detail::handleFor({impl_->instance, impl_->title});
    impl_->registered = impl_->open();
    if (impl_->registered) {
        detail::addLocal({impl_->instance, impl_->title}, impl_.get(), std::this_thread::get_id());
    } else {
        impl_->close();
    }
}

Window::~Window()
{
    detail::removeLocal({impl_->instance, impl_->title}, impl_.get());
    impl_->close();
}

bool Window::registered() const { return impl_->registered; }
HWND Window::hwnd() const { return impl_->hwnd; }
const std::string& Window::title() const { return impl_->title; }
const std::string& Window::instance() const { return impl_->instance; }
int Window::fd() const { return impl_->epollFd; }

void Window::dispatch()
{
    // One message at a time: while a handler runs (a modal box pumping the
    // event loop, say), the next message waits for its answer to be sent.
    if (!impl_->registered || impl_->serving)
        return;
    // At most one message per call keeps a busy sender from starving the GUI
    // thread; what is left keeps the descriptor readable for the next call.
    epoll_event events[kMaxConnections + 2];
    const int count = ::epoll_wait(impl_->epollFd, events, kMaxConnections + 2, 0);
    for (int i = 0; i < count; ++i) {
        const int fd = events[i].data.fd;
        if (fd == impl_->timerFd) {
            uint64_t expirations;
            if (::read(fd, &expirations, sizeof expirations) < 0) {
                // Already read: nothing to do.
            }
            impl_->closeIdle();
            if (impl_->connections.size() >= kMaxConnections)
                impl_->pauseAccepting();
            else
                impl_->resumeAccepting();
        }
    }
    for (int i = 0; i < count; ++i)
        if (events[i].data.fd == impl_->listenFd && impl_->listening)
            impl_->acceptAll();
    for (int i = 0; i < count; ++i) {
        const int fd = events[i].data.fd;
        if (fd != impl_->listenFd && fd != impl_->timerFd && impl_->isWaiting(fd) && impl_->serve(fd))
            return;
    }
}

void Window::pump(int timeoutMs)
{
    if (!impl_->registered)
        return;
    if (impl_->serving) {
        // Nothing is handled before the running handler answers; waiting for
        // ever here would wait for this very call to return.
        if (timeoutMs > 0)
            ::poll(nullptr, 0, timeoutMs);
        return;
    }
    pollfd watched{impl_->epollFd, POLLIN, 0};
    if (::poll(&watched, 1, timeoutMs) > 0)
        dispatch();
}

LRESULT detail::deliverLocal(Window::Impl* window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return window->deliver(msg, wParam, lParam);
}

} // namespace platform::winmsg
