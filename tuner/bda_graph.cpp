// The tuning space and the network provider at the head of the graph.
#include "tuner/bdamanager.h"

#include "platform/media/network_provider.h"
#include "tuner/diagnostics.h"

#include <cwchar>

namespace {

const wchar_t kTuningSpaceName[] = L"KEST DVB-S";

bool sameText(BSTR text, const wchar_t* expected)
{
    return text != nullptr && std::wcscmp(text, expected) == 0;
}

} // namespace

IBaseFilter* CBDAManager::CreateNetworkProvider()
{
    ComPtr<ITuningSpace> space = ComPtr<ITuningSpace>::adopt(LoadTuningSpace());
    if (!space)
        return nullptr;
    BSTR networkType = nullptr;
    CLSID provider{};
    const HRESULT hr = space->get_NetworkType(&networkType);
    const bool parsed = SUCCEEDED(hr) && networkType && SUCCEEDED(CLSIDFromString(networkType, &provider));
    SysFreeString(networkType);
    if (!parsed)
        return nullptr;
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(provider, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.putVoid())) ||
        !filter)
        return nullptr;
    ComPtr<ITuneRequest> request;
    if (FAILED(space->CreateTuneRequest(request.put())) || !request)
        return nullptr;
    ComPtr<ITuner> tuner = filter.As<ITuner>();
    if (!tuner || FAILED(tuner->put_TuningSpace(space.get())) || FAILED(tuner->put_TuneRequest(request.get())))
        return nullptr;
    return filter.detach();
}

ITuningSpace* CBDAManager::LoadTuningSpace()
{
    ComPtr<ITuningSpaceContainer> container;
    if (FAILED(CoCreateInstance(CLSID_SystemTuningSpaces, nullptr, CLSCTX_INPROC_SERVER, IID_ITuningSpaceContainer,
                                container.putVoid())) ||
        !container)
        return nullptr;
    ComPtr<IEnumTuningSpaces> spaces;
    if (SUCCEEDED(container->get_EnumTuningSpaces(spaces.put())) && spaces) {
        ComPtr<ITuningSpace> space;
        while (spaces->Next(1, space.put(), nullptr) == S_OK && space) {
            BSTR name = nullptr;
            const bool ours = SUCCEEDED(space->get_UniqueName(&name)) && sameText(name, kTuningSpaceName);
            SysFreeString(name);
            if (ours)
                return space.detach();
        }
    }
    ComPtr<ITuningSpace> created = ComPtr<ITuningSpace>::adopt(CreateDVBSTuningSpace());
    if (created)
        container->Add(created.get(), nullptr);
    return created.detach();
}

ITuningSpace* CBDAManager::CreateDVBSTuningSpace()
{
    ComPtr<ILocator> locator;
    ComPtr<IDVBTuningSpace2> space;
    if (FAILED(CoCreateInstance(CLSID_DVBSLocator, nullptr, CLSCTX_INPROC_SERVER, IID_ILocator, locator.putVoid())) ||
        FAILED(CoCreateInstance(CLSID_DVBSTuningSpace, nullptr, CLSCTX_INPROC_SERVER, IID_IDVBTuningSpace2,
                                space.putVoid())) ||
        !locator || !space)
        return nullptr;
    space->put__NetworkType(CLSID_DVBSNetworkProvider);
    space->put_SystemType(DVB_Satellite);
    space->put_DefaultLocator(locator.get());
    space->put_FrequencyMapping(L"");
    space->put_FriendlyName(L"Kest DVBS Tuner");
    space->put_UniqueName(kTuningSpaceName);
    ComPtr<IDVBSTuningSpace> satellite = space.As<IDVBSTuningSpace>();
    if (!satellite) {
        tuner::debugLine("CBDAManager::CreateDVBSTuningSpace - Error\n");
    } else {
        satellite->put_HighOscillator(-1);
        satellite->put_InputRange(L"-1");
        satellite->put_LNBSwitch(-1);
        satellite->put_LowOscillator(-1);
        satellite->put_SpectralInversion(BDA_SPECTRAL_INVERSION_NOT_SET);
    }
    return ComPtr<ITuningSpace>(space.get()).detach();
}
