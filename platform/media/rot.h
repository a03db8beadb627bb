// The running object table: running objects registered under a moniker so that tools can find
// them (a filter graph under "FilterGraph %08x pid %08x"). One table per process.
#pragma once

#include "platform/media/moniker.h"

inline constexpr IID IID_IRunningObjectTable = {0x00000010, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr DWORD ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;
constexpr DWORD ROTFLAGS_ALLOWANYCLIENT = 0x2;
constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = static_cast<HRESULT>(0x000401E7u);

struct IRunningObjectTable : IUnknown {
    static constexpr const IID& kIid = IID_IRunningObjectTable;
    using Parent = IUnknown;
    // Registers `object` under `name`; the table holds a reference until Revoke. *cookie is never 0.
    // A name registered already gives MK_S_MONIKERALREADYREGISTERED (and a registration all the same).
    virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) = 0;
    virtual HRESULT Revoke(DWORD cookie) = 0;          // E_INVALIDARG for an unknown cookie
    virtual HRESULT IsRunning(IMoniker* name) = 0;     // S_OK or S_FALSE
    virtual HRESULT GetObject(IMoniker* name, IUnknown** object) = 0; // MK_E_UNAVAILABLE if not running
};

HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** table);
