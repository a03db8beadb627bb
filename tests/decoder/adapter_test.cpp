// the device contract and the four wrapper operations.
#include "test_support.h"

#include <cstddef>

using namespace dt;

namespace {

TEST(AdapterContract, ControlCodesNamesAndLayout)
{
    EXPECT_EQ(IOCTL_SEND_FRAMES, 0x222098u);
    EXPECT_EQ(IOCTL_READ_BYTE_COUNT, 0x2220BCu);
    EXPECT_EQ(IOCTL_SET_STATION_ADDRESS, 0x2220D8u);
    EXPECT_EQ(IOCTL_READ_LOST_FRAMES, 0x222100u);
    EXPECT_EQ(sizeof(FrameBatch), 24388u);
    EXPECT_EQ(offsetof(FrameBatch, frameLengths), 24320u);
    EXPECT_EQ(offsetof(FrameBatch, frameCount), 24384u);
    EXPECT_STREQ(kAdapterDeviceNameFormat, "\\\\.\\SatNicDv-%d");
    EXPECT_STREQ(kAdapterGlobalDeviceNameFormat, "\\\\.\\Global\\SatNicDv-%d");
    EXPECT_STREQ(kAdapterDeviceName, "SatNicDv-1");

    // Little-endian wire format: the count 1 is the bytes 01 00 00 00 at 24384.
    FrameBatch batch{};
    batch.frameCount = 1;
    batch.frameLengths[1] = 0x0102;
    const auto* raw = reinterpret_cast<const uint8_t*>(&batch);
    EXPECT_EQ(raw[24384], 1);
    EXPECT_EQ(raw[24387], 0);
    EXPECT_EQ(raw[24324], 0x02);
    EXPECT_EQ(raw[24325], 0x01);
    batch.frames[2][0] = 0xAB;
    EXPECT_EQ(raw[1520 * 2], 0xAB);
}

class AdapterTest : public ::testing::Test {
protected:
    void TearDown() override { platform::unregisterDevice(kAdapterDeviceName); }
};

TEST_F(AdapterTest, OpensTheLocalNameWithReadWriteAccess)
{
    auto driver = std::make_shared<CaptureDriver>();
    platform::registerDevice(kAdapterDeviceName, driver);
    HANDLE h = openAdapter();
    ASSERT_NE(h, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(driver->state->openAccesses, std::vector<DWORD>{0xC0000000u});
    closeAdapter(h);
    closeAdapter(nullptr);
}

TEST_F(AdapterTest, WhenOnlyTheGlobalNameExistsTheSecondOpenWithMaximumAllowedIsUsed)
{
    auto driver = std::make_shared<CaptureDriver>();
    platform::registerDevice(kAdapterDeviceName, driver, platform::DeviceNamespace::GlobalOnly);
    HANDLE h = openAdapter();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(driver->state->openAccesses, std::vector<DWORD>{0x02000000u});
    FrameBatch batch{};
    batch.frameCount = 1;
    batch.frameLengths[0] = 60;
    EXPECT_TRUE(sendFrames(h, &batch, sizeof batch));
    EXPECT_EQ(driver->state->frames.size(), 1u);
    closeAdapter(h);
}

TEST_F(AdapterTest, NoDeviceGivesNullNeverInvalidHandleValue)
{
    EXPECT_EQ(openAdapter(), nullptr);
}

// A driver that refuses every open.
class RefusingDriver : public platform::DeviceDriver {
public:
    std::unique_ptr<platform::DeviceFile> open(DWORD, DWORD* error) override
    {
        *error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
};

TEST_F(AdapterTest, RefusedOpensGiveNull)
{
    platform::registerDevice(kAdapterDeviceName, std::make_shared<RefusingDriver>());
    EXPECT_EQ(openAdapter(), nullptr);
}

TEST_F(AdapterTest, NullHandleMakesNoRequest)
{
    FrameBatch batch{};
    EXPECT_FALSE(sendFrames(nullptr, &batch, sizeof batch));
    EXPECT_EQ(readAdapterByteCount(nullptr), 0u);
    EXPECT_EQ(readAdapterLostFrames(nullptr), 0u);
    uint8_t address[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(setAdapterAddress(nullptr, address));
    EXPECT_EQ(address[0], 1);
}

TEST_F(AdapterTest, ByteCountAndStationAddress)
{
    auto driver = std::make_shared<CaptureDriver>();
    platform::registerDevice(kAdapterDeviceName, driver);
    HANDLE h = openAdapter();
    ASSERT_NE(h, nullptr);
    driver->state->byteCount = 123456;
    EXPECT_EQ(readAdapterByteCount(h), 123456u);
    driver->state->refuseByteCount = true;
    EXPECT_EQ(readAdapterByteCount(h), 0u);

    // Lost frames: a 64-bit count, 0 from an adapter that does not answer the request.
    EXPECT_EQ(readAdapterLostFrames(h), 0u);
    driver->state->lostFrames = 0x123456789ull;
    EXPECT_EQ(readAdapterLostFrames(h), 0x123456789ull);

    uint8_t address[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_TRUE(setAdapterAddress(h, address));
    EXPECT_EQ(driver->state->stationAddress, (Mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    // What the adapter writes back is what stays in place.
    driver->state->rewriteAddress = true;
    EXPECT_TRUE(setAdapterAddress(h, address));
    EXPECT_EQ(address[0], 0x02);
    EXPECT_EQ(address[5], 0x55);

    driver->state->refuseSends = true;
    FrameBatch batch{};
    EXPECT_FALSE(sendFrames(h, &batch, sizeof batch));
    closeAdapter(h);
}

} // namespace
