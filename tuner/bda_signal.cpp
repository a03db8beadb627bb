// Signal level, quality and lock, read from the tuner's pins.
#include "tuner/bdamanager.h"

#include "tuner/diagnostics.h"

#include <cstring>

using tuner::debugLine;

namespace {

struct QueryTexts {
    const char* entry;
    const char* querySupportedFailed;
    const char* getNotSupported;
    const char* getFailed;
};

int readStatistic(IKsPropertySet* propertySet, DWORD id, LONG* out, const QueryTexts& texts)
{
    debugLine(texts.entry);
    // No graph, no pin: the poller asks every second, so stay quiet.
    if (propertySet == nullptr || out == nullptr)
        return 0;
    DWORD support = 0;
    if (FAILED(propertySet->QuerySupported(KSPROPSETID_BdaSignalStats, id, &support))) {
        debugLine(texts.querySupportedFailed);
        return 0;
    }
    if ((support & KSPROPERTY_SUPPORT_GET) == 0) {
        debugLine(texts.getNotSupported);
        return 0;
    }
    BYTE instance[24];
    std::memset(instance, 0, sizeof(instance));
    LONG value = 0;
    DWORD returned = 0;
    if (FAILED(propertySet->Get(KSPROPSETID_BdaSignalStats, id, instance, sizeof(instance), &value, sizeof(value),
                                &returned))) {
        debugLine(texts.getFailed);
        return 0;
    }
    *out = value;
    return 1;
}

} // namespace

int CBDAManager::GetSignalStrength(LONG* strength)
{
    static const QueryTexts texts{"CBDAManager: CBDAFilterGraph::GetSignalStrength\n",
                                  "KSPROPERTY_BDA_SIGNAL_STRENGTH, QuerySupported failed!\n",
                                  "KSPROPERTY_BDA_SIGNAL_STRENGTH, Get not supported !\n",
                                  "KSPROPERTY_BDA_SIGNAL_STRENGTH, Get failed!\n"};
    return readStatistic(m_pTunerInputPropSet.get(), KSPROPERTY_BDA_SIGNAL_STRENGTH, strength, texts);
}

int CBDAManager::GetSignalQuality(LONG* quality)
{
    static const QueryTexts texts{"CBDAManager::GetSignalQuality\n",
                                  "QuerySupported, KSPROPERTY_BDA_SIGNAL_QUALITY failed!\n",
                                  "Get, KSPROPERTY_BDA_SIGNAL_QUALITY not supported !\n",
                                  "Get, KSPROPERTY_BDA_SIGNAL_QUALITY failed !\n"};
    return readStatistic(m_pTunerOutputPropSet.get(), KSPROPERTY_BDA_SIGNAL_QUALITY, quality, texts);
}

int CBDAManager::GetDemodLocked(LONG* locked)
{
    static const QueryTexts texts{"CBDAManager::GetDemodLocked\n",
                                  "QuerySupported, KSPROPERTY_BDA_SIGNAL_LOCKED failed!\n",
                                  "KSPROPERTY_BDA_SIGNAL_LOCKED, GET not supported !\n",
                                  "KSPROPERTY_BDA_SIGNAL_LOCKED, GET failed !\n"};
    return readStatistic(m_pTunerOutputPropSet.get(), KSPROPERTY_BDA_SIGNAL_LOCKED, locked, texts);
}
