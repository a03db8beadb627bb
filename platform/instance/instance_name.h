// Named copies of the receiver: `KestIpData --instance NAME` or KEST_INSTANCE=NAME.
// Each name has its own single-instance check, settings file, window title and
// working folder; no name keeps the names of a single copy unchanged. Plain C++:
// kestapi finds a named copy's window with the same rules.
#pragma once

#include <string>

namespace instance {

constexpr size_t kMaxNameLength = 32;

// 1 to 32 ASCII letters, digits, '-' or '_', starting with a letter or digit:
// safe as a file name, a window title suffix and a systemd instance.
bool validName(const std::string& name);

// The name from `--instance NAME` / `--instance=NAME` (the last one given wins),
// else from `environment` (KEST_INSTANCE; null or empty: no name). False with
// *error set for a missing or invalid name.
bool fromCommandLine(int argc, char** argv, const char* environment, std::string* name, std::string* error);

// The name this process runs under (empty: none); set once at start.
const std::string& current();
void setCurrent(const std::string& name);

// "KestIPData", or "KestIPData@NAME": the single-instance listener.
std::string applicationId(const std::string& name);
// The card's title as it is, or "TITLE [NAME]".
std::string windowTitle(const std::string& cardTitle, const std::string& name);

} // namespace instance
