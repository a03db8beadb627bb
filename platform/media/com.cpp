#include "platform/media/com.h"

#include <cstdlib>
#include <map>
#include <mutex>

namespace platform::detail {
void addBuiltinClasses(std::map<CLSID, ClassFactory>& classes); // builtin_classes.cpp
}

namespace {

struct ClassTable {
    std::mutex lock;
    std::map<CLSID, platform::ClassFactory> classes;
};

ClassTable& table()
{
    static ClassTable* t = [] {
        auto* table = new ClassTable; // never destroyed: usable from static destructors too
        platform::detail::addBuiltinClasses(table->classes);
        return table;
    }();
    return *t;
}

} // namespace

namespace platform {

void registerClass(REFCLSID clsid, ClassFactory factory)
{
    ClassTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (factory)
        t.classes[clsid] = std::move(factory);
    else
        t.classes.erase(clsid);
}

} // namespace platform

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0)
        return REGDB_E_CLASSNOTREG;
    platform::ClassFactory factory;
    {
        ClassTable& t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        auto it = t.classes.find(clsid);
        if (it == t.classes.end())
            return REGDB_E_CLASSNOTREG;
        factory = it->second; // called outside the lock: a factory may create objects itself
    }
    try {
        const HRESULT hr = factory(riid, object);
        if (FAILED(hr))
            *object = nullptr;
        return hr;
    } catch (...) {
        *object = nullptr;
        return E_OUTOFMEMORY;
    }
}

void* CoTaskMemAlloc(size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }
void CoTaskMemFree(void* memory) { std::free(memory); }
