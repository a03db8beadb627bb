// Property sets and device control that record what the manager asks of them.
#pragma once

#include "platform/ks/bda.h"
#include "platform/ks/ks.h"
#include "platform/media/interfaces.h"

#include <map>
#include <utility>
#include <vector>

namespace tunertest {

struct KsCall {
    enum Kind { Query, Get, Set } kind;
    GUID set;
    DWORD id;
    std::vector<BYTE> instance;
    std::vector<BYTE> data;
};

// IBaseFilter answering nothing, so that a property-set fake can pose as a filter.
struct StubBaseFilter : IBaseFilter {
    HRESULT GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT Stop() override { return S_OK; }
    HRESULT Pause() override { return S_OK; }
    HRESULT Run(REFERENCE_TIME) override { return S_OK; }
    HRESULT GetState(DWORD, FILTER_STATE* state) override { *state = State_Stopped; return S_OK; }
    HRESULT EnumPins(IEnumPins**) override { return E_NOTIMPL; }
    HRESULT FindPin(LPCWSTR, IPin**) override { return VFW_E_NOT_FOUND; }
    HRESULT QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
    HRESULT JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return S_OK; }
};

template <class... Extra>
class FakePropertySetOf : public platform::ComObject<IKsPropertySet, Extra...> {
public:
    struct Behaviour {
        HRESULT query = S_OK;
        DWORD support = KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET;
        HRESULT get = S_OK;
        HRESULT set = S_OK;
        std::vector<BYTE> reply; // copied into the data of a Get (at its start)
        LONG value = 0;          // 4-byte Get reply when `reply` is empty
        DWORD claimed = ~0u;     // the length a Get reports written; ~0: the buffer's length
    };
    Behaviour& on(REFGUID set, DWORD id) { return behaviour_[{set, id}]; }

    HRESULT Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength, LPVOID data, DWORD dataLength) override
    {
        record(KsCall::Set, set, id, instance, instanceLength, data, dataLength);
        return on(set, id).set;
    }
    HRESULT Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength, LPVOID data, DWORD dataLength,
                DWORD* returned) override
    {
        record(KsCall::Get, set, id, instance, instanceLength, data, dataLength);
        const Behaviour& b = on(set, id);
        if (FAILED(b.get))
            return b.get;
        BYTE* out = static_cast<BYTE*>(data);
        if (!b.reply.empty()) {
            for (size_t i = 0; i < b.reply.size() && i < dataLength; ++i)
                out[i] = b.reply[i];
        } else if (dataLength >= 4) {
            *static_cast<LONG*>(data) = b.value;
        }
        if (returned)
            *returned = b.claimed == ~0u ? dataLength : b.claimed;
        return S_OK;
    }
    HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) override
    {
        record(KsCall::Query, set, id, nullptr, 0, nullptr, 0);
        const Behaviour& b = on(set, id);
        if (FAILED(b.query))
            return b.query;
        *support = b.support;
        return S_OK;
    }

    std::vector<KsCall> calls;
    std::vector<KsCall> callsOf(KsCall::Kind kind) const
    {
        std::vector<KsCall> out;
        for (const KsCall& c : calls)
            if (c.kind == kind)
                out.push_back(c);
        return out;
    }

private:
    void record(KsCall::Kind kind, REFGUID set, DWORD id, void* instance, DWORD il, void* data, DWORD dl)
    {
        const BYTE* i = static_cast<const BYTE*>(instance);
        const BYTE* d = static_cast<const BYTE*>(data);
        calls.push_back({kind, set, id, i ? std::vector<BYTE>(i, i + il) : std::vector<BYTE>{},
                         d ? std::vector<BYTE>(d, d + dl) : std::vector<BYTE>{}});
    }
    std::map<std::pair<GUID, DWORD>, Behaviour> behaviour_;
};

using FakePropertySet = FakePropertySetOf<>;
using FakePropertyFilter = FakePropertySetOf<StubBaseFilter>; // a video capture filter

class FakeDeviceControl : public platform::ComObject<IBDA_DeviceControl> {
public:
    HRESULT StartChanges() override { ++starts; return S_OK; }
    HRESULT CheckChanges() override { return S_OK; }
    HRESULT CommitChanges() override { ++commits; return commitResult; }
    HRESULT GetChangeState(ULONG* state) override { *state = BDA_CHANGES_COMPLETE; return S_OK; }
    HRESULT commitResult = S_OK;
    int starts = 0;
    int commits = 0;
};

} // namespace tunertest
