// One QApplication for a whole widget test program, on the offscreen platform.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <string>

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

// For programs that make the application on first use, once their environment is set.
inline QApplication& offscreenApplication(const char* programName)
{
    static std::string name = programName;
    static int argc = 1;
    static char* argv[] = {name.data(), nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication application(argc, argv);
    return application;
}
