#include "platform/win32/debug.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::mutex sinkMutex;
platform::DebugSink& currentSink()
{
    static platform::DebugSink sink;
    return sink;
}

bool debugToStderr()
{
    static const bool enabled = [] {
        const char* value = std::getenv("KEST_DEBUG");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

} // namespace

void OutputDebugStringA(LPCSTR text)
{
    if (text == nullptr)
        return;
    if (debugToStderr()) {
        std::fputs(text, stderr);
        std::fflush(stderr);
    }
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (currentSink())
        currentSink()(text);
}

namespace platform {

DebugSink setDebugSink(DebugSink sink)
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    DebugSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

DebugCapture::DebugCapture()
{
    previous_ = setDebugSink([this](const char* text) {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.emplace_back(text);
    });
}

DebugCapture::~DebugCapture() { setDebugSink(std::move(previous_)); }

std::vector<std::string> DebugCapture::texts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
}

std::string DebugCapture::all() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::string joined;
    for (const auto& text : texts_)
        joined += text;
    return joined;
}

void DebugCapture::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.clear();
}

} // namespace platform
