// The classes CoCreateInstance knows without registration: those the system finds on Windows.
#include "platform/media/allocator.h"
#include "platform/media/devenum.h"
#include "platform/media/filter_graph.h"
#include "platform/media/inf_tee.h"
#include "platform/media/mpeg2_filters.h"
#include "platform/media/network_provider.h"
#include "platform/media/tuning.h"

#include <map>

namespace platform::detail {

void addBuiltinClasses(std::map<CLSID, ClassFactory>& classes)
{
    classes[CLSID_FilterGraph] = createFilterGraph;
    classes[CLSID_InfTee] = createInfTee;
    classes[CLSID_MPEG2Demultiplexer] = createMpeg2Demultiplexer;
    classes[CLSID_BDA_MPEG2_Transport_Information_Filter] = createTransportInformationFilter;
    classes[CLSID_SystemDeviceEnum] = media::createSystemDeviceEnum;
    classes[CLSID_SystemTuningSpaces] = media::createSystemTuningSpaces;
    classes[CLSID_DVBSTuningSpace] = media::createDVBSTuningSpace;
    classes[CLSID_DVBSLocator] = media::createDVBSLocator;
    classes[CLSID_DVBSNetworkProvider] = media::createDVBSNetworkProvider;
    classes[CLSID_MemoryAllocator] = [](REFIID riid, void** object) { return createObject<MemAllocator>(riid, object); };
}

} // namespace platform::detail
