#include "platform/ks/bda.h"
#include "platform/ks/card_extension.h"
#include "platform/ks/property_table.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using platform::ks::PropertyRequest;

namespace {

GUID parse(const char* text)
{
    GUID g{};
    EXPECT_EQ(CLSIDFromString(text, &g), S_OK) << text;
    return g;
}

TEST(KsIds, PublishedAndCardSetsHaveTheirValues)
{
    EXPECT_EQ(IID_IKsPropertySet, parse("{31EFAC30-515C-11d0-A9AA-00AA0061BE93}"));
    EXPECT_EQ(IID_IBDA_DeviceControl, parse("{FD0A5AF3-B41D-11d2-9C95-00C04F7971E0}"));
    EXPECT_EQ(KSPROPSETID_BdaFrequencyFilter, parse("{71985F47-1CA1-11D3-9CC8-00C04F7971E0}"));
    EXPECT_EQ(KSPROPSETID_BdaDigitalDemodulator, parse("{EF30F379-985B-4D10-B640-A79D5E04E1E0}"));
    EXPECT_EQ(KSPROPSETID_BdaSignalStats, parse("{1347D106-CF3A-428A-A5CB-AC0D9A2A4338}"));
    EXPECT_EQ(KSPROPSETID_BdaLNBInfo, parse("{992CF102-49F9-4719-A664-C4F23E2408F4}"));
    EXPECT_EQ(KSPROPSETID_CardCommand, parse("{FAA8F3E5-31D4-4E41-88EF-D9EB716F6EC9}"));
    EXPECT_EQ(KSPROPSETID_CardMac, parse("{CBBF16AE-2A99-477E-B0D7-9C2274EB209E}"));
    EXPECT_EQ(PROPSETID_VIDCAP_CUSTOM_IRCAPTURE, parse("{B51C4994-0054-4749-8243-029A66863636}"));
}

// A pin as a driver writes it: a value property, a read-only statistic and a command block.
class Pin : public platform::ComObject<platform::ks::KsPropertySetBase> {
public:
    Pin()
    {
        properties().onSetValue<ULONG>(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY,
                                       [this](ULONG khz) { frequency = khz; return khz ? S_OK : E_INVALIDARG; });
        properties().onGetValue<ULONG>(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY,
                                       [this](ULONG& khz) { khz = frequency; return S_OK; });
        properties().onGetValue<LONG>(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_STRENGTH,
                                      [](LONG& v) { v = 77; return S_OK; });
        properties().onGet(KSPROPSETID_CardCommand, KSPROPERTY_CARD_COMMAND,
                           [this](const PropertyRequest& r, DWORD* returned) {
                               instance.assign(static_cast<const BYTE*>(r.instance),
                                               static_cast<const BYTE*>(r.instance) + r.instanceLength);
                               *returned = r.dataLength;
                               return S_OK;
                           });
        properties().onSet(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_ACCESS,
                           [](const PropertyRequest&) -> HRESULT { throw std::runtime_error("driver bug"); });
    }
    ULONG frequency = 0;
    std::vector<BYTE> instance;
};

TEST(PropertyTable, SupportMasksAndUnknownProperties)
{
    ComPtr<IKsPropertySet> ps(new Pin);
    DWORD support = 99;
    EXPECT_EQ(ps->QuerySupported(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, &support), S_OK);
    EXPECT_EQ(support, KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET);
    EXPECT_EQ(ps->QuerySupported(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_STRENGTH, &support), S_OK);
    EXPECT_EQ(support, KSPROPERTY_SUPPORT_GET);
    EXPECT_EQ(ps->QuerySupported(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_LOCKED, &support),
              E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(ps->QuerySupported(KSPROPSETID_BdaLNBInfo, 0, &support), E_PROP_SET_UNSUPPORTED);
    EXPECT_EQ(ps->QuerySupported(KSPROPSETID_BdaLNBInfo, 0, nullptr), E_POINTER);

    LONG value = 5;
    EXPECT_EQ(ps->Set(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_STRENGTH, nullptr, 0, &value, 4),
              E_PROP_ID_UNSUPPORTED); // read-only
    EXPECT_EQ(ps->Get(KSPROPSETID_BdaLNBInfo, 0, nullptr, 0, &value, 4, nullptr), E_PROP_SET_UNSUPPORTED);
    EXPECT_EQ(value, 5);
}

TEST(PropertyTable, ValuesTravelAsBytesAndBadBuffersAreRefused)
{
    ComPtr<Pin> pin(new Pin);
    IKsPropertySet* ps = pin.get();
    BYTE instance[24] = {};
    ULONG khz = 12565000;
    ASSERT_EQ(ps->Set(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, instance, 24, &khz, 4), S_OK);
    EXPECT_EQ(pin->frequency, 12565000u);
    khz = 0; // the handler's own refusal comes back unchanged
    EXPECT_EQ(ps->Set(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, instance, 24, &khz, 4),
              E_INVALIDARG);

    ULONG read = 0;
    DWORD returned = 0;
    ASSERT_EQ(ps->Get(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, instance, 24, &read, 4,
                      &returned), S_OK);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(returned, 4u);

    uint16_t small = 0;
    EXPECT_EQ(ps->Set(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, nullptr, 0, &small, 2),
              E_KS_BUFFER_TOO_SMALL);
    EXPECT_EQ(ps->Get(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_STRENGTH, nullptr, 0, &small, 2, &returned),
              E_KS_BUFFER_TOO_SMALL);
    EXPECT_EQ(ps->Set(KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, nullptr, 0, nullptr, 4),
              E_POINTER);
    EXPECT_EQ(ps->Get(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_STRENGTH, nullptr, 24, &read, 4, nullptr),
              E_POINTER);
    EXPECT_EQ(ps->Get(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_STRENGTH, nullptr, 0, nullptr, 4, nullptr),
              E_POINTER);
}

TEST(PropertyTable, InstanceDataReachesTheHandlerAndThrowsBecomeFailures)
{
    ComPtr<Pin> pin(new Pin);
    BYTE block[188] = {0xE0, 0x10, 0x38, 0xF3};
    DWORD returned = 0;
    // The command set passes one block as both instance and data.
    ASSERT_EQ(pin->Get(KSPROPSETID_CardCommand, KSPROPERTY_CARD_COMMAND, block, 188, block, 188, &returned), S_OK);
    ASSERT_EQ(pin->instance.size(), 188u);
    EXPECT_EQ(pin->instance[3], 0xF3);
    EXPECT_EQ(returned, 188u);

    LONG on = 1;
    EXPECT_EQ(pin->Set(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_ACCESS, &on, 4, &on, 4), E_FAIL);
}

} // namespace
