// FindFilter over the device enumerator, and the order in which models are probed.
#include "tuner/find_filter.h"

#include "fake_ks.h"
#include "platform/media/devenum.h"
#include "platform/win32/debug.h"
#include "tuner/device_catalogue.h"

#include <gtest/gtest.h>

#include <vector>

using platform::media::DeviceId;
using tunertest::FakePropertyFilter;

namespace {

// Devices registered for one test, removed again at its end.
class Devices {
public:
    ~Devices()
    {
        for (DeviceId id : ids_)
            platform::media::unregisterFilterDevice(id);
    }
    // A device whose filter is `filter` (null: binding it fails).
    IBaseFilter* add(REFGUID category, const wchar_t* name, bool creatable = true)
    {
        ComPtr<FakePropertyFilter> filter(creatable ? new FakePropertyFilter : nullptr);
        filters_.push_back(filter);
        ids_.push_back(platform::media::registerFilterDevice(category, name, [filter](REFIID riid, void** object) {
            if (!filter) {
                *object = nullptr;
                return E_FAIL;
            }
            return filter->QueryInterface(riid, object);
        }));
        return filter.get();
    }

private:
    std::vector<DeviceId> ids_;
    std::vector<ComPtr<FakePropertyFilter>> filters_;
};

ComPtr<IBaseFilter> find(REFGUID category, const wchar_t* name)
{
    return ComPtr<IBaseFilter>::adopt(FindFilter(category, name));
}

TEST(FindFilter, MatchesTheRequestedNameAsAPrefix)
{
    Devices devices;
    platform::DebugCapture debug;
    devices.add(KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Cedar BDA Tuner");
    IBaseFilter* longer = devices.add(KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Cedar BDA Tuner/Demod #2");
    EXPECT_EQ(find(KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Cedar BDA Tuner/Demod").get(), longer);
    EXPECT_FALSE(find(KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Cedar BDA Tuner/Demod #23"));
    EXPECT_FALSE(find(KSCATEGORY_BDA_RECEIVER_COMPONENT, L"Kest Cedar BDA Tuner"));
    EXPECT_TRUE(debug.texts().empty());
}

TEST(FindFilter, WithoutANameTakesTheFirstThatCanBeCreated)
{
    // A category of its own: the system lists its transport information filter in the real one.
    const GUID kOwnCategory = {0x0C0FFEE0, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 11}};
    Devices devices;
    devices.add(kOwnCategory, L"Broken", false);
    IBaseFilter* second = devices.add(kOwnCategory, L"BDA MPEG2 Transport Information Filter");
    // A name asked for, on a device that cannot be created, is skipped the same way.
    devices.add(kOwnCategory, L"Wanted", false);
    ComPtr<IBaseFilter> first = find(kOwnCategory, nullptr);
    EXPECT_EQ(first.get(), second);
    EXPECT_FALSE(find(kOwnCategory, L"Wanted"));
}

TEST(FindFilter, EmptyCategoryGivesNothingSilently)
{
    platform::DebugCapture debug;
    const GUID unused = {0x0BADCA7E, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
    EXPECT_FALSE(find(unused, nullptr));
    EXPECT_TRUE(debug.texts().empty());
}

TEST(Detection, ProbesInItsFixedOrder)
{
    EXPECT_EQ(tuner::probeInstalledModel(), 0);
    Devices devices;
    devices.add(KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Cedar BDA Tuner/Demod");
    devices.add(KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Alder DVBS Tuner"); // never detected
    EXPECT_EQ(tuner::probeInstalledModel(), tuner::kModelCedar);
    devices.add(KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Maple DVBS Tuner");
    EXPECT_EQ(tuner::probeInstalledModel(), tuner::kModelMaple);

    Devices others;
    others.add(KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Larch BDA Tuner/Demod");
    others.add(KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Spruce BDA DVBS/S2 Tuner/Demod");
    EXPECT_EQ(tuner::probeInstalledModel(), tuner::kModelMaple); // still there
}

} // namespace
