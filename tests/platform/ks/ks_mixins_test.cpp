#include "platform/ks/card_extension.h"
#include "platform/ks/ks_mixins.h"
#include "platform/media/base_filter.h"

#include <gtest/gtest.h>

#include <memory>

using platform::ks::WithDeviceControl;
using platform::ks::WithKsProperties;

namespace {

int g_alive = 0;

class TunerPin final : public WithKsProperties<platform::BasePin> {
public:
    explicit TunerPin(platform::BaseFilter* filter) : WithKsProperties(filter, L"Input0", PINDIR_INPUT)
    {
        properties().onSetValue<ULONG>(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY,
                                       [this](ULONG khz) { frequency = khz; return S_OK; });
    }
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
    ULONG frequency = 0;
};

// A tuner filter with properties of its own (as a capture filter has) and a commit step.
class TunerFilter final : public WithDeviceControl<WithKsProperties<platform::BaseFilter>> {
public:
    TunerFilter() : WithDeviceControl(GUID_NULL), pin_(this)
    {
        ++g_alive;
        properties().onGetValue<LONG>(PROPSETID_VIDCAP_CUSTOM_IRCAPTURE, KSPROPERTY_IRCAPTURE_COMMAND,
                                      [](LONG& v) { v = 0; return S_OK; });
    }
    ~TunerFilter() override { --g_alive; }
    int pinCount() override { return 1; }
    platform::BasePin* pin(int index) override { return index == 0 ? &pin_ : nullptr; }
    void frequencyChanged() { markChanged(); }
    int commits = 0;

protected:
    HRESULT applyChanges() override { ++commits; return S_OK; }

private:
    TunerPin pin_;
};

TEST(KsMixins, FiltersAndPinsAnswerTheirInterfacesWithOneIdentity)
{
    {
        ComPtr<IBaseFilter> filter(static_cast<IBaseFilter*>(new TunerFilter));
        ComPtr<IBDA_DeviceControl> control = filter.As<IBDA_DeviceControl>();
        ComPtr<IKsPropertySet> filterProps = filter.As<IKsPropertySet>();
        ASSERT_TRUE(control);
        ASSERT_TRUE(filterProps);
        EXPECT_EQ(control.As<IBaseFilter>(), filter);
        EXPECT_EQ(filterProps.As<IUnknown>().get(), filter.As<IUnknown>().get());
        DWORD support = 0;
        EXPECT_EQ(filterProps->QuerySupported(PROPSETID_VIDCAP_CUSTOM_IRCAPTURE, KSPROPERTY_IRCAPTURE_COMMAND,
                                              &support), S_OK);
        EXPECT_EQ(support, KSPROPERTY_SUPPORT_GET);

        ComPtr<IPin> pin;
        ASSERT_EQ(filter->FindPin(L"Input0", pin.put()), S_OK);
        ComPtr<IKsPropertySet> pinProps = pin.As<IKsPropertySet>();
        ASSERT_TRUE(pinProps);
        EXPECT_NE(pinProps, filterProps); // the pin's own table
        EXPECT_FALSE(pin.As<IBDA_DeviceControl>());
        ULONG khz = 10600000;
        BYTE instance[24] = {};
        ASSERT_EQ(pinProps->Set(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, instance, 24,
                                &khz, 4), S_OK);
        EXPECT_EQ(static_cast<TunerPin*>(pin.get())->frequency, 10600000u);
        EXPECT_EQ(filterProps->Set(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, instance,
                                   24, &khz, 4), E_PROP_SET_UNSUPPORTED);

        auto* tuner = static_cast<TunerFilter*>(filter.get());
        tuner->frequencyChanged();
        EXPECT_EQ(control->CommitChanges(), S_OK);
        EXPECT_EQ(tuner->commits, 1);
        EXPECT_EQ(g_alive, 1);
    }
    EXPECT_EQ(g_alive, 0); // the pin's interfaces held the filter, and let it go
}

} // namespace
