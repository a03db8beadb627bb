// Pins of the graph's filters: finding them by name, connecting them, and the tuner's own.
#include "tuner/bdamanager.h"

#include "tuner/cp1251.h"
#include "tuner/diagnostics.h"

#include <string>

using tuner::debugLine;
using tuner::errorBox;

namespace {

// The pin's name, or nothing when it does not say.
bool pinName(IPin* pin, std::wstring* name)
{
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)))
        return false;
    if (info.pFilter)
        info.pFilter->Release();
    info.achName[MAX_PIN_NAME - 1] = 0;
    *name = info.achName;
    return true;
}

// The first unconnected pin of `direction` (and of `name`, when one is given).
ComPtr<IPin> firstFreePin(IBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* name)
{
    ComPtr<IEnumPins> pins;
    if (filter == nullptr || FAILED(filter->EnumPins(pins.put())) || !pins)
        return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.put(), nullptr) == S_OK && pin) {
        ComPtr<IPin> peer;
        if (SUCCEEDED(pin->ConnectedTo(peer.put())) && peer)
            continue;
        PIN_DIRECTION dir = PINDIR_INPUT;
        if (FAILED(pin->QueryDirection(&dir)) || dir != direction)
            continue;
        std::wstring actual;
        if (name && (!pinName(pin.get(), &actual) || actual != name))
            continue;
        return pin;
    }
    return nullptr;
}

} // namespace

HRESULT CBDAManager::ConnectPins(IGraphBuilder* graph, IBaseFilter* upstream, IBaseFilter* downstream,
                                 const wchar_t* outputPinName, const wchar_t* inputPinName)
{
    const ComPtr<IPin> out = firstFreePin(upstream, PINDIR_OUTPUT, outputPinName);
    if (!out) {
        debugLine("CBDAManager::ConnectPins() - No output pin found on filter\r\n");
        return E_FAIL;
    }
    const ComPtr<IPin> in = firstFreePin(downstream, PINDIR_INPUT, inputPinName);
    if (!in) {
        debugLine("CBDAManager::ConnectPins() - No input pin found on filter\r\n");
        return E_FAIL;
    }
    if (graph == nullptr)
        return E_POINTER;
    const HRESULT hr = graph->Connect(out.get(), in.get());
    if (hr != S_OK)
        debugLine("CBDAManager::ConnectPins() - Could not connect pins together. Error was: ");
    return hr;
}

IPin* CBDAManager::FindPinOnFilter(IBaseFilter* filter, const char* ansiName)
{
    if (filter == nullptr || ansiName == nullptr)
        return nullptr;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put())) || !pins)
        return nullptr;
    ComPtr<IPin> found;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.put(), nullptr) == S_OK && pin) {
        std::wstring name;
        if (pinName(pin.get(), &name) && tuner::toCp1251(name.c_str()) == ansiName)
            found = pin; // the last match wins
    }
    return found.detach();
}

bool CBDAManager::GetTunerDemodPins()
{
    m_pTunerInputPin = ComPtr<IPin>::adopt(FindPinOnFilter(m_pTunerDevice.get(), "Input0"));
    if (!m_pTunerInputPin)
        m_pTunerInputPin = ComPtr<IPin>::adopt(FindPinOnFilter(m_pTunerDevice.get(), "Antenna In Pin"));
    if (!m_pTunerInputPin) {
        errorBox("Cannot find Input0 pin on BDA Tuner/Demod filter!\n");
        return false;
    }
    m_pTunerOutputPin = ComPtr<IPin>::adopt(FindPinOnFilter(m_pTunerDevice.get(), "MPEG2 Transport"));
    if (!m_pTunerOutputPin) // the same pin where the ANSI code page is Cyrillic: "MPEG2 транспорт"
        m_pTunerOutputPin = ComPtr<IPin>::adopt(
            FindPinOnFilter(m_pTunerDevice.get(), "MPEG2 \xF2\xF0\xE0\xED\xF1\xEF\xEE\xF0\xF2"));
    if (!m_pTunerOutputPin) {
        errorBox("Cannot find MPEG2 Transport pin on BDA Tuner/Demod filter!\n");
        return false;
    }
    if (FAILED(m_pTunerInputPin.As(&m_pTunerInputPropSet)) || !m_pTunerInputPropSet) {
        errorBox("QI of IKsPropertySet failed\n");
        m_pTunerInputPin.reset();
        return false;
    }
    if (FAILED(m_pTunerOutputPin.As(&m_pTunerOutputPropSet)) || !m_pTunerOutputPropSet) {
        errorBox("QI of IKsPropertySet failed\n");
        m_pTunerOutputPin.reset();
        return false;
    }
    return true;
}

bool CBDAManager::GetDeviceControl()
{
    if (!m_pTunerDevice) {
        errorBox("Cannot find Tuner/Demod filter\n");
        return false;
    }
    if (FAILED(m_pTunerDevice.As(&m_pIBDADevCtrl)) || !m_pIBDADevCtrl) {
        errorBox("QI of IBDA_DeviceControl failed\n");
        return false;
    }
    return true;
}
