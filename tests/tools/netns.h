// A network namespace of the test's own, with a TAP interface in it.
#pragma once

#include <string>

namespace testns {

bool isRoot();
// Runs a shell command, returns its exit status.
int run(const std::string& command);

class Namespace {
public:
    // Creates namespace `name` with TAP interface `tap` (address 10.0.0.2/24, up,
    // reverse-path filtering off). ok() tells whether it worked.
    Namespace(const std::string& name, const std::string& tap);
    ~Namespace();
    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }
    // Moves the calling thread into the namespace (sockets it opens then live there).
    bool enter() const;

private:
    std::string name_;
    bool ok_ = false;
};

} // namespace testns
