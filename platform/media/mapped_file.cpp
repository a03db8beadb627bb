#include "platform/media/mapped_file.h"

#include <csignal>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr size_t kReleaseStep = size_t(4) << 20;

// The mapped ranges that the bus-error handler knows, up to a few at a time.
struct GuardedRange {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> cut{false};
};
constexpr int kGuardedRanges = 8;
GuardedRange g_ranges[kGuardedRanges];
struct sigaction g_previous {};
uintptr_t g_pageSize = 4096;

// A read beyond the end of a file that shrank under its mapping: the page becomes a zero page,
// the range is marked, and the read goes on. Any other bus error goes to the handler before.
void onBusError(int signal, siginfo_t* info, void* context)
{
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (GuardedRange& range : g_ranges) {
        if (address < range.begin.load(std::memory_order_acquire) || address >= range.end.load(std::memory_order_acquire))
            continue;
        void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
        if (mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            range.cut.store(true, std::memory_order_release);
            return;
        }
    }
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
    } else {
        std::signal(SIGBUS, SIG_DFL); // the read is repeated and ends the process as it would have
    }
}

int guard(const BYTE* data, size_t size)
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        g_pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previous);
    });
    for (int i = 0; i < kGuardedRanges; ++i) {
        uintptr_t none = 0;
        if (g_ranges[i].begin.compare_exchange_strong(none, reinterpret_cast<uintptr_t>(data))) {
            g_ranges[i].cut.store(false, std::memory_order_relaxed);
            g_ranges[i].end.store(reinterpret_cast<uintptr_t>(data) + size, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

void unguard(int index)
{
    g_ranges[index].end.store(0, std::memory_order_release);
    g_ranges[index].begin.store(0, std::memory_order_release);
}

} // namespace

MappedFile::MappedFile(int fd)
{
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
        return;
    const auto size = static_cast<size_t>(info.st_size);
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED)
        return;
    data_ = static_cast<const BYTE*>(data);
    size_ = size;
    guard_ = guard(data_, size_);
    if (guard_ < 0) { // no room left in the handler's table: read the file instead
        munmap(data, size);
        data_ = nullptr;
        size_ = 0;
        return;
    }
    madvise(data, size, MADV_SEQUENTIAL);
}

MappedFile::~MappedFile()
{
    if (data_ == nullptr)
        return;
    munmap(const_cast<BYTE*>(data_), size_);
    unguard(guard_);
}

bool MappedFile::cut() const { return guard_ >= 0 && g_ranges[guard_].cut.load(std::memory_order_acquire); }

void MappedFile::releaseBefore(size_t offset)
{
    const size_t end = offset & ~(static_cast<size_t>(g_pageSize) - 1);
    if (data_ == nullptr || end < releasedTo_ + kReleaseStep)
        return;
    madvise(const_cast<BYTE*>(data_) + releasedTo_, end - releasedTo_, MADV_DONTNEED);
    releasedTo_ = end;
}

} // namespace platform
