#include "platform/media/tuning.h"

namespace platform::media {

void registerTuningClasses()
{
    registerClass(CLSID_SystemTuningSpaces, createSystemTuningSpaces);
    registerClass(CLSID_DVBSTuningSpace, createDVBSTuningSpace);
    registerClass(CLSID_DVBSLocator, createDVBSLocator);
}

} // namespace platform::media
