#include "platform/win32.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class EchoFile : public platform::DeviceFile {
public:
    bool control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                 DWORD* error) override
    {
        if (code != 7) {
            *error = ERROR_NOT_SUPPORTED;
            return false;
        }
        const DWORD n = inSize < outSize ? inSize : outSize;
        if (n > 0)
            std::memcpy(out, in, n);
        *returned = n;
        return true;
    }
};

class EchoDriver : public platform::DeviceDriver {
public:
    std::vector<DWORD> accesses;
    std::unique_ptr<platform::DeviceFile> open(DWORD access, DWORD*) override
    {
        accesses.push_back(access);
        return std::make_unique<EchoFile>();
    }
};

TEST(DeviceFiles, OpenByLocalOrGlobalNameAndControl)
{
    auto driver = std::make_shared<EchoDriver>();
    platform::registerDevice("Echo-1", driver);
    HANDLE local = CreateFileA("\\\\.\\Echo-1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE global = CreateFileA("\\\\.\\Global\\Echo-1", MAXIMUM_ALLOWED, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(local, INVALID_HANDLE_VALUE);
    ASSERT_NE(global, INVALID_HANDLE_VALUE);
    EXPECT_EQ(driver->accesses, (std::vector<DWORD>{0xC0000000u, 0x02000000u}));

    char in[4] = {1, 2, 3, 4}, out[4] = {};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(local, 7, in, 4, out, 4, &returned, nullptr));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(out[3], 4);
    EXPECT_FALSE(DeviceIoControl(local, 8, in, 4, out, 4, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

    EXPECT_TRUE(CloseHandle(local));
    EXPECT_TRUE(CloseHandle(global));
    platform::unregisterDevice("Echo-1");
}

TEST(DeviceFiles, NamespaceRestrictionsAndMissingDevices)
{
    platform::registerDevice("OnlyGlobal-1", std::make_shared<EchoDriver>(), platform::DeviceNamespace::GlobalOnly);
    EXPECT_EQ(CreateFileA("\\\\.\\OnlyGlobal-1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE h = CreateFileA("\\\\.\\Global\\OnlyGlobal-1", MAXIMUM_ALLOWED, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    platform::unregisterDevice("OnlyGlobal-1");

    EXPECT_EQ(CreateFileA("\\\\.\\Nothing-1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("/dev/null", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST(DeviceFiles, ControlAndCloseRefuseNullAndInvalidHandles)
{
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(nullptr, 7, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeviceIoControl(INVALID_HANDLE_VALUE, 7, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(Guids, ParseAndFormatRoundTrip)
{
    CLSID id{};
    ASSERT_EQ(CLSIDFromString("{29FA55FE-EBDB-4F9C-84FF-B01B25978A83}", &id), S_OK);
    EXPECT_EQ(id.Data1, 0x29FA55FEu);
    EXPECT_EQ(id.Data2, 0xEBDB);
    EXPECT_EQ(id.Data4[0], 0x84);
    EXPECT_EQ(id.Data4[7], 0x83);
    EXPECT_EQ(platform::guidToString(id), "{29FA55FE-EBDB-4F9C-84FF-B01B25978A83}");
    CLSID untouched = GUID_NULL;
    EXPECT_EQ(CLSIDFromString("29FA55FE-EBDB-4F9C-84FF-B01B25978A83", &untouched), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString("{29FA55FE-EBDB-4F9C-84FF-B01B25978A8G}", &untouched), E_INVALIDARG);
    EXPECT_EQ(untouched, GUID_NULL);
}

} // namespace
