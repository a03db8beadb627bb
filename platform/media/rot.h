// The running object table: running objects registered under a moniker (a filter graph under
// "FilterGraph %08x pid %08x"). One table per process; it keeps each object alive until revoked.
#pragma once

#include "platform/media/moniker.h"

inline constexpr IID IID_IRunningObjectTable = {0x00000010, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr DWORD ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;
constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = static_cast<HRESULT>(0x000401E7u);

struct IRunningObjectTable : IUnknown {
    static constexpr const IID& kIid = IID_IRunningObjectTable;
    using Parent = IUnknown;
    // Registers `object` under `name`; the table holds a reference until Revoke. *cookie is never 0.
    // A name registered already gives MK_S_MONIKERALREADYREGISTERED (and a registration all the same).
    virtual HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) = 0;
    virtual HRESULT Revoke(DWORD cookie) = 0; // E_INVALIDARG for an unknown cookie
};

HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** table);
