// Tuning spaces, locators, tune requests and the system's tuning-space container.
#pragma once

#include "platform/media/tuning_container.h"
#include "platform/media/tuning_locator.h"
#include "platform/media/tuning_request.h"
#include "platform/media/tuning_space.h"

namespace platform::media {

// The class factories behind those class ids.
HRESULT createDVBSLocator(REFIID riid, void** object);
HRESULT createDVBSTuningSpace(REFIID riid, void** object);
HRESULT createSystemTuningSpaces(REFIID riid, void** object); // the one container of the process

// Puts CLSID_SystemTuningSpaces, CLSID_DVBSTuningSpace and CLSID_DVBSLocator into the class table.
void registerTuningClasses();

} // namespace platform::media
