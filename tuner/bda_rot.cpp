// GCC guesses the moniker's concrete class while inlining Release and then mistakes the
// object's own deletion for a free of an interior pointer.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"
#endif

// Registering the graph in the running object table, so that graph tools can find it.
#include "tuner/bdamanager.h"

#include "platform/media/rot.h"

#include <unistd.h>

#include <cstdio>

HRESULT CBDAManager::AddGraphToRot(IUnknown* graph, DWORD* cookie)
{
    if (graph == nullptr || cookie == nullptr)
        return E_FAIL;
    ComPtr<IRunningObjectTable> table;
    if (FAILED(GetRunningObjectTable(0, table.put())) || !table)
        return E_FAIL;
    char narrow[64];
    std::snprintf(narrow, sizeof(narrow), "FilterGraph %08x pid %08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(graph)), static_cast<unsigned>(getpid()));
    wchar_t name[64];
    for (size_t i = 0;; ++i) {
        name[i] = static_cast<wchar_t>(narrow[i]);
        if (narrow[i] == 0)
            break;
    }
    ComPtr<IMoniker> moniker;
    HRESULT hr = CreateItemMoniker(L"!", name, moniker.put());
    if (FAILED(hr))
        return hr;
    return table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph, moniker.get(), cookie);
}

void CBDAManager::RemoveGraphFromRot(DWORD cookie)
{
    ComPtr<IRunningObjectTable> table;
    if (SUCCEEDED(GetRunningObjectTable(0, table.put())) && table)
        table->Revoke(cookie);
}
