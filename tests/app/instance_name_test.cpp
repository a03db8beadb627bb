// Instance names: what is accepted, where it comes from, and that a copy
// without one keeps the names it always had.
#include "platform/instance/instance_name.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(InstanceName, OnlyNamesSafeAsFileTitleAndUnitNamesAreValid)
{
    for (const char* good : {"a", "east", "Card-2", "dvb_1", "0", "abcdefghijklmnopqrstuvwxyz012345"})
        EXPECT_TRUE(instance::validName(good)) << good;
    for (const char* bad : {"", "a/b", "..", ".hidden", "-a", "_a", "a b", "a.b", "ä", "a\n",
                            "abcdefghijklmnopqrstuvwxyz0123456", "a@b", "a]"})
        EXPECT_FALSE(instance::validName(bad)) << bad;
}

std::string parse(std::vector<const char*> arguments, const char* environment, bool* ok, std::string* error = nullptr)
{
    arguments.insert(arguments.begin(), "KestIpData");
    std::string name = "unchanged";
    *ok = instance::fromCommandLine(static_cast<int>(arguments.size()), const_cast<char**>(arguments.data()),
                                    environment, &name, error);
    return name;
}

TEST(InstanceName, TheOptionComesBeforeTheEnvironment)
{
    bool ok = false;
    EXPECT_EQ(parse({}, nullptr, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(parse({}, "", &ok), "") << "an empty KEST_INSTANCE is no name";
    EXPECT_EQ(parse({}, "west", &ok), "west");
    EXPECT_EQ(parse({"--instance", "east"}, "west", &ok), "east");
    EXPECT_EQ(parse({"-platform", "offscreen", "--instance=east"}, nullptr, &ok), "east");
    EXPECT_TRUE(ok);

    std::string error;
    parse({"--instance"}, "west", &ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "--instance needs a name");
    parse({"--instance", "../etc"}, nullptr, &ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("\"../etc\" is not valid"), std::string::npos) << error;
    parse({"--instance="}, nullptr, &ok, &error);
    EXPECT_FALSE(ok);
    parse({}, "a/b", &ok, &error);
    EXPECT_FALSE(ok) << "KEST_INSTANCE is checked the same";
}

TEST(InstanceName, NoNameKeepsTheTitleAndIdOfASingleCopy)
{
    const std::string title = "Kest Ip Data 1.04 @ Kest Cedar DVB-S2";
    EXPECT_EQ(instance::windowTitle(title, ""), title);
    EXPECT_EQ(instance::applicationId(""), "KestIPData");
    EXPECT_EQ(instance::windowTitle(title, "east"), title + " [east]");
    EXPECT_EQ(instance::applicationId("east"), "KestIPData@east");
}

} // namespace
