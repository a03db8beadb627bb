// The Win32 layer as one include.
#pragma once

#include "platform/win32/types.h"
#include "platform/win32/guid.h"
#include "platform/win32/device.h"
#include "platform/win32/debug.h"
#include "platform/win32/sync.h"
#include "platform/win32/messagebox.h"
