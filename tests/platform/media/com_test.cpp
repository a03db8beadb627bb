#include "platform/media/com.h"

#include <gtest/gtest.h>

namespace {

inline constexpr IID IID_ITestA = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x01}};
inline constexpr IID IID_ITestB = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x02}};
inline constexpr IID IID_ITestC = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x03}};
inline constexpr CLSID CLSID_Test = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x10}};

struct ITestA : IUnknown {
    static constexpr const IID& kIid = IID_ITestA;
    using Parent = IUnknown;
    virtual int a() = 0;
};
struct ITestB : ITestA { // derives from A: QueryInterface must answer both
    static constexpr const IID& kIid = IID_ITestB;
    using Parent = ITestA;
    virtual int b() = 0;
};
struct ITestC : IUnknown {
    static constexpr const IID& kIid = IID_ITestC;
    using Parent = IUnknown;
    virtual int c() = 0;
};

int g_alive = 0;

class Thing : public platform::ComObject<ITestB, ITestC> {
public:
    Thing() { ++g_alive; }
    ~Thing() override { --g_alive; }
    int a() override { return 1; }
    int b() override { return 2; }
    int c() override { return 3; }
};

TEST(Com, UnknownHasThePublishedIid)
{
    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString("{00000000-0000-0000-C000-000000000046}", &parsed), S_OK);
    EXPECT_EQ(parsed, IID_IUnknown);
}

TEST(Com, ReferenceCountsAndIdentity)
{
    {
        ComPtr<ITestB> b(new Thing);
        EXPECT_EQ(g_alive, 1);
        ComPtr<ITestA> a = b.As<ITestA>();
        ComPtr<ITestC> c = b.As<ITestC>();
        ASSERT_TRUE(a && c);
        EXPECT_EQ(a->a() + c->c() + b->b(), 6);
        // IUnknown identity: the same pointer from every interface.
        EXPECT_EQ(a.As<IUnknown>().get(), c.As<IUnknown>().get());
        EXPECT_EQ(b->AddRef(), 4u);
        EXPECT_EQ(b->Release(), 3u);
        void* none = reinterpret_cast<void*>(1);
        EXPECT_EQ(b->QueryInterface(IID_ITestA == IID_ITestB ? IID_ITestA : GUID_NULL, &none), E_NOINTERFACE);
        EXPECT_EQ(none, nullptr);
        EXPECT_EQ(b->QueryInterface(IID_ITestA, nullptr), E_POINTER);
    }
    EXPECT_EQ(g_alive, 0);
}

TEST(Com, ComPtrCopyMoveAndPut)
{
    {
        ComPtr<ITestA> one(new Thing);
        ComPtr<ITestA> two = one;
        ComPtr<ITestA> three = std::move(two);
        EXPECT_FALSE(two);
        EXPECT_EQ(one, three);
        ComPtr<ITestA>& alias = three;
        three = alias; // self-assignment keeps the object
        EXPECT_EQ(three->a(), 1);
        ComPtr<ITestC> c;
        EXPECT_EQ(one.As(&c), S_OK);
        ASSERT_EQ(one->QueryInterface(IID_ITestC, c.putVoid()), S_OK); // put() releases the old one
        ITestA* raw = nullptr;
        EXPECT_EQ(one.copyTo(&raw), S_OK);
        ComPtr<ITestA> adopted = ComPtr<ITestA>::adopt(raw);
        EXPECT_EQ(adopted.get(), one.get());
    }
    EXPECT_EQ(g_alive, 0);
}

TEST(Com, CreateInstanceByClassId)
{
    ComPtr<ITestC> c;
    EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_INPROC_SERVER, IID_ITestC, c.putVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(c);
    platform::registerClass(CLSID_Test, [](REFIID riid, void** out) {
        return platform::createObject<Thing>(riid, out);
    });
    EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_INPROC_SERVER, IID_ITestC, c.putVoid()), S_OK);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->c(), 3);
    ComPtr<ITestA> a;
    ComPtr<IUnknown> outer(c.get());
    EXPECT_EQ(CoCreateInstance(CLSID_Test, outer.get(), CLSCTX_INPROC_SERVER, IID_ITestA, a.putVoid()),
              CLASS_E_NOAGGREGATION);
    // An interface the object lacks: the new object is not leaked.
    EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_INPROC_SERVER, GUID_NULL, a.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_INPROC_SERVER, IID_ITestA, nullptr), E_POINTER);
    platform::registerClass(CLSID_Test, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_INPROC_SERVER, IID_ITestA, a.putVoid()),
              REGDB_E_CLASSNOTREG);
    c.reset();
    outer.reset();
    EXPECT_EQ(g_alive, 0);
}

} // namespace
