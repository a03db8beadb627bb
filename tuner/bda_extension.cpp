// The card's own property sets: DiSEqC and LNB supply, MAC address, infrared probe.
#include "tuner/bdamanager.h"

#include "platform/ks/card_extension.h"
#include "tuner/command_blocks.h"
#include "tuner/device_catalogue.h"
#include "tuner/diagnostics.h"

#include <cstring>

using tuner::debugLine;
using tuner::errorBox;

namespace card = platform::ks::card;

// texts: entry, QuerySupported failed, Get failed.
int CBDAManager::sendCommand(const BYTE* source, const char* const texts[3])
{
    debugLine(texts[0]);
    tuner::CommandBlock block;
    std::memcpy(block.data(), source, block.size());
    // Only whether the set answers matters; the driver's mask is not consulted.
    DWORD support = 0;
    if (!m_pTunerInputPropSet ||
        FAILED(m_pTunerInputPropSet->QuerySupported(KSPROPSETID_CardCommand, KSPROPERTY_CARD_COMMAND, &support))) {
        debugLine(texts[1]);
        return 0;
    }
    // The block goes out as both instance and data of a Get: that is how the driver takes commands.
    tuner::CommandBlock data = block;
    DWORD returned = 0;
    if (FAILED(m_pTunerInputPropSet->Get(KSPROPSETID_CardCommand, KSPROPERTY_CARD_COMMAND, block.data(),
                                         static_cast<DWORD>(block.size()), data.data(),
                                         static_cast<DWORD>(data.size()), &returned))) {
        debugLine(texts[2]);
        return 0;
    }
    return 1;
}

int CBDAManager::SendDiSEqC(const BYTE* message, int length)
{
    static const char* const texts[3] = {"CBDAManager::SendDiSEqC()\n",
                                         "CBDAManager::SendDiSEqC() - QuerySupported failed\n",
                                         "CBDAManager::SendDiSEqC() - Get failed\n"};
    const tuner::CommandBlock block = tuner::diseqcBlock(message, length > 0 ? static_cast<size_t>(length) : 0);
    return sendCommand(block.data(), texts);
}

int CBDAManager::Power(int on)
{
    static const char* const texts[3] = {"CBDAManager::Power()\n", "CBDAManager::Power() - QuerySupported failed\n",
                                         "CBDAManager::Power() - Get failed\n"};
    const tuner::CommandBlock block = tuner::powerBlock(on != 0);
    return sendCommand(block.data(), texts);
}

IKsPropertySet* CBDAManager::extensionPropertySet() const
{
    return tuner::extensionsOnTunerOutput(m_modelId) ? m_pTunerOutputPropSet.get() : m_pCapturePropSet.get();
}

int CBDAManager::ReadMACAddress(BYTE* mac)
{
    debugLine("CBDAManager::ReadMACAddress()\n");
    IKsPropertySet* propertySet = extensionPropertySet();
    DWORD support = 0;
    if (!propertySet || FAILED(propertySet->QuerySupported(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_ACCESS, &support))) {
        debugLine("CBDAManager::ReadMACAddress() - QuerySupported failed\n");
        return 0;
    }
    DWORD access = 1;
    DWORD accessInstance = 1;
    if (FAILED(propertySet->Set(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_ACCESS, &accessInstance,
                                sizeof(accessInstance), &access, sizeof(access)))) {
        debugLine("CBDAManager::ReadMACAddress() - Set failed\n");
        return 0;
    }
    tuner::MacBlock instance = tuner::macReadBlock();
    tuner::MacBlock block = instance;
    DWORD returned = 0;
    if (FAILED(propertySet->Get(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_READ, instance.data(),
                                static_cast<DWORD>(instance.size()), block.data(), static_cast<DWORD>(block.size()),
                                &returned))) {
        debugLine("CBDAManager::ReadMACAddress() - Get failed\n");
        return 0;
    }
    if (mac)
        std::memcpy(mac, block.data() + card::kMacAddressOffset, 6);
    access = 0;
    accessInstance = 0;
    propertySet->Set(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_ACCESS, &accessInstance, sizeof(accessInstance), &access,
                     sizeof(access));
    return 1;
}

bool CBDAManager::GetIRCtrlInterface()
{
    debugLine("CBDAManager::GetIRCtrlInterface()\n");
    DWORD support = 0;
    if (tuner::extensionsOnTunerOutput(m_modelId)) {
        if (!m_pTunerOutputPropSet) {
            errorBox("IKsPropertySet pointer error\n");
            return false;
        }
        if (FAILED(m_pTunerOutputPropSet->QuerySupported(PROPSETID_VIDCAP_CUSTOM_IRCAPTURE,
                                                         KSPROPERTY_IRCAPTURE_COMMAND, &support))) {
            debugLine("QuerySupported, KSPROPERTY_IRCAPTURE_COMMAND failed!\n");
            return false;
        }
        return true;
    }
    m_pCapturePropSet.reset();
    if (m_pVideoCapture)
        m_pVideoCapture.As(&m_pCapturePropSet);
    if (!m_pCapturePropSet) {
        errorBox("CaptureDevice QueryInterface Failed");
        return false;
    }
    if (FAILED(m_pCapturePropSet->QuerySupported(PROPSETID_VIDCAP_CUSTOM_IRCAPTURE, KSPROPERTY_IRCAPTURE_COMMAND,
                                                 &support))) {
        errorBox("PROPSETID_VIDCAP_CUSTOM_IRCAPTURE QuerySupported failed\n");
        m_pCapturePropSet.reset();
        return false;
    }
    return true;
}
