// Adds IKsPropertySet or IBDA_DeviceControl to a filter or pin class of the media framework
// (BaseFilter, BasePin, BaseOutputPin, ...), so that a card driver writes only its handlers:
//
//   class TunerFilter : public WithDeviceControl<WithKsProperties<platform::BaseFilter>> { ... };
//   class TunerInputPin : public WithKsProperties<platform::BasePin> {
//       TunerInputPin(BaseFilter* f) : WithKsProperties(f, L"Input0", PINDIR_INPUT)
//       { properties().onSetValue<ULONG>(KSPROPSETID_BdaFrequencyFilter, ..., [this](ULONG khz) { ... }); }
//   };
//
// The interfaces share the object's identity and reference count (a pin's is its filter's).
#pragma once

#include "platform/ks/device_control_base.h"
#include "platform/ks/property_table.h"

namespace platform::ks {

template <class Base, class Added>
class WithInterface : public Base, public Added {
public:
    using Base::Base;
    HRESULT QueryInterface(REFIID riid, void** object) override { return Base::QueryInterface(riid, object); }
    ULONG AddRef() override { return Base::AddRef(); }
    ULONG Release() override { return Base::Release(); }

protected:
    void* queryExtra(REFIID riid) override
    {
        return riid == Added::kIid ? static_cast<typename Added::Interface*>(this) : Base::queryExtra(riid);
    }
};

template <class Base>
class WithKsProperties : public WithInterface<Base, KsPropertySetBase> {
public:
    using WithInterface<Base, KsPropertySetBase>::WithInterface;
};

template <class Base>
class WithDeviceControl : public WithInterface<Base, DeviceControlBase> {
public:
    using WithInterface<Base, DeviceControlBase>::WithInterface;
};

} // namespace platform::ks
