// COM as the Parts use it: IUnknown, a smart pointer, a reference-counting base for objects, and
// object creation by class id from an in-process class table.
#pragma once

#include "platform/media/errors.h"
#include "platform/win32/guid.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

// Wide strings as COM has them; on Linux wchar_t holds UTF-32, so L"MPEG2 транспорт" is one
// character per letter.
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using OLECHAR = wchar_t;
using LPOLESTR = wchar_t*;
using LPCOLESTR = const wchar_t*;
using LONG_PTR = intptr_t;
using DWORD_PTR = uintptr_t;

// Every interface declares `static constexpr const IID& kIid` and `using Parent = <base interface>`,
// so that ComPtr::As and ComObject::QueryInterface know it without __uuidof.
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
    static constexpr const IID& kIid = IID_IUnknown;
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default; // objects are destroyed by Release, never by delete on an interface
};

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Creates an object of a registered class: REGDB_E_CLASSNOTREG for an unknown class,
// CLASS_E_NOAGGREGATION when `outer` is given, E_POINTER without `object`.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);
void* CoTaskMemAlloc(size_t bytes);                   // memory that crosses interface calls
void CoTaskMemFree(void* memory);                     // null is allowed

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.get())) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }

    static ComPtr adopt(T* p) { ComPtr r; r.p_ = p; return r; } // takes over a reference already held
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { if (T* p = std::exchange(p_, nullptr)) p->Release(); }
    T* detach() { return std::exchange(p_, nullptr); }
    T** put() { reset(); return &p_; }          // for out parameters: releases what it held
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    HRESULT copyTo(T** out) const { if (!out) return E_POINTER; *out = p_; if (p_) p_->AddRef(); return S_OK; }

    template <class U>
    ComPtr<U> As() const { ComPtr<U> r; if (p_) p_->QueryInterface(U::kIid, r.putVoid()); return r; }
    template <class U>
    HRESULT As(ComPtr<U>* out) const { return p_ ? p_->QueryInterface(U::kIid, out->putVoid()) : E_POINTER; }

    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
    friend bool operator!=(const ComPtr& a, const ComPtr& b) { return a.p_ != b.p_; }

private:
    T* p_ = nullptr;
};

namespace platform {

// Atomic reference count; the object deletes itself when the count drops to zero.
// It starts at 0: wrap a new object in a ComPtr (or AddRef it) at once.
class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;
    virtual ~RefCounted() = default;
    ULONG addRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG release()
    {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            // As DirectShow's CUnknown: a count of one while destroying, so that AddRef/Release
            // pairs made during teardown never delete the object a second time.
            refs_.store(1, std::memory_order_relaxed);
            finalRelease();
            delete this;
        }
        return left;
    }
    ULONG refCount() const { return refs_.load(std::memory_order_relaxed); }

protected:
    // Called once when the count reaches zero, while the whole object still exists (a streaming
    // thread can be stopped here before the derived parts are destroyed). It must not throw.
    virtual void finalRelease() {}

private:
    std::atomic<ULONG> refs_{0};
};

namespace detail {
template <class I>
void* castChain(I* p, REFIID riid)
{
    if (riid == I::kIid)
        return p;
    if constexpr (!std::is_same_v<typename I::Parent, IUnknown>)
        return castChain<typename I::Parent>(p, riid);
    return nullptr;
}
} // namespace detail

// Implements IUnknown for an object of one or more interfaces (and their parent interfaces).
// Derived classes extend QueryInterface by overriding `queryExtra`.
template <class First, class... Rest>
class ComObject : public First, public Rest..., public RefCounted {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        void* p = nullptr;
        if (riid == IID_IUnknown)
            p = static_cast<IUnknown*>(static_cast<First*>(this));
        else
            p = find<First, Rest...>(riid);
        if (p == nullptr)
            p = queryExtra(riid);
        *object = p;
        if (p == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return addRef(); }
    ULONG Release() override { return release(); }

protected:
    virtual void* queryExtra(REFIID) { return nullptr; } // an interface pointer, not yet AddRef'ed

private:
    template <class I, class... More>
    void* find(REFIID riid)
    {
        if (void* p = detail::castChain<I>(static_cast<I*>(this), riid))
            return p;
        if constexpr (sizeof...(More) > 0)
            return find<More...>(riid);
        return nullptr;
    }
};

// For a class that adds interfaces of its own to a ComObject base: one final overrider of the
// IUnknown methods for all its bases. QueryInterface of the base reaches the extra interfaces
// through `queryExtra`.
#define KEST_FORWARD_IUNKNOWN(Base)                                                                \
    HRESULT QueryInterface(REFIID riid, void** object) override { return Base::QueryInterface(riid, object); } \
    ULONG AddRef() override { return Base::AddRef(); }                                            \
    ULONG Release() override { return Base::Release(); }

// Creates a new object and hands out the interface asked for (the caller owns that reference).
template <class T, class... Args>
HRESULT createObject(REFIID riid, void** object, Args&&... args)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    T* raw = nullptr;
    try {
        raw = new T(std::forward<Args>(args)...);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    ComPtr<T> holder(raw);
    return holder->QueryInterface(riid, object);
}

// The class table behind CoCreateInstance. A factory creates the object and hands out `riid`.
using ClassFactory = std::function<HRESULT(REFIID riid, void** object)>;
// Replaces an earlier registration; a null factory removes the class.
void registerClass(REFCLSID clsid, ClassFactory factory);

} // namespace platform
