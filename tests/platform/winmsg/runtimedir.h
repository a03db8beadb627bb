// Gives each test program its own window directory, so that tests running side
// by side (and a receiver the developer runs) never see each other's windows.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kesttest {

class RuntimeDirEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        char pattern[] = "/tmp/kest-winmsg-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        dir_ = made;
        ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

inline RuntimeDirEnvironment* const runtimeDir = static_cast<RuntimeDirEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new RuntimeDirEnvironment));

} // namespace kesttest
