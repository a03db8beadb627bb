// One QApplication for a whole widget test program, on the offscreen platform.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

class OffscreenApplication : public ::testing::Environment {
public:
    explicit OffscreenApplication(const char* programName) : name_(programName) {}
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        argv_[0] = const_cast<char*>(name_);
        app_ = new QApplication(argc_, argv_);
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    const char* name_;
    int argc_ = 1;
    char* argv_[2] = {nullptr, nullptr};
    QApplication* app_ = nullptr;
};
