#include "platform/media/interfaces.h"
#include "platform/media/rot.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

class Graph : public platform::ComObject<IPersist> {
public:
    HRESULT GetClassID(CLSID* clsid) override { *clsid = GUID_NULL; return S_OK; }
};

ComPtr<IMoniker> itemMoniker(const wchar_t* item)
{
    ComPtr<IMoniker> m;
    EXPECT_EQ(CreateItemMoniker(L"!", item, m.put()), S_OK);
    return m;
}

ComPtr<IRunningObjectTable> rot()
{
    ComPtr<IRunningObjectTable> table;
    EXPECT_EQ(GetRunningObjectTable(0, table.put()), S_OK);
    return table;
}

TEST(ItemMoniker, NamesDelimiterAndItemAndBindsToNothing)
{
    wchar_t item[64];
    std::swprintf(item, 64, L"FilterGraph %08x pid %08x", 0xABCDu, 0x1234u);
    ComPtr<IMoniker> m = itemMoniker(item);
    LPOLESTR name = nullptr;
    ASSERT_EQ(m->GetDisplayName(nullptr, nullptr, &name), S_OK);
    EXPECT_STREQ(name, L"!FilterGraph 0000abcd pid 00001234");
    CoTaskMemFree(name);

    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(m->BindToObject(nullptr, nullptr, IID_IPersist, &object), MK_E_NOOBJECT);
    EXPECT_EQ(object, nullptr);
    ComPtr<IMoniker> none;
    EXPECT_EQ(CreateItemMoniker(L"!", nullptr, none.put()), E_INVALIDARG);
}

TEST(RunningObjectTable, RegistrationHoldsTheObjectUntilRevoked)
{
    ComPtr<Graph> graph(new Graph);
    ComPtr<IMoniker> name = itemMoniker(L"FilterGraph 00000001 pid 00000002");
    ComPtr<IRunningObjectTable> table = rot();
    EXPECT_EQ(table.get(), rot().get()); // one table per process

    DWORD cookie = 0;
    ASSERT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, static_cast<IPersist*>(graph.get()), name.get(),
                              &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(graph->refCount(), 2u);

    // An equal name (compared by display name) is allowed, with its own cookie and a warning result.
    DWORD second = 0;
    EXPECT_EQ(table->Register(0, static_cast<IPersist*>(graph.get()),
                              itemMoniker(L"FilterGraph 00000001 pid 00000002").get(), &second),
              MK_S_MONIKERALREADYREGISTERED);
    EXPECT_NE(second, cookie);
    EXPECT_EQ(graph->refCount(), 3u);

    EXPECT_EQ(table->Revoke(cookie), S_OK);
    EXPECT_EQ(table->Revoke(cookie), E_INVALIDARG);
    EXPECT_EQ(graph->refCount(), 2u); // the second registration still holds it
    EXPECT_EQ(table->Revoke(second), S_OK);
    EXPECT_EQ(graph->refCount(), 1u);
    // Once both are revoked the name is free again.
    EXPECT_EQ(table->Register(0, static_cast<IPersist*>(graph.get()), name.get(), &cookie), S_OK);
    EXPECT_EQ(table->Revoke(cookie), S_OK);

    EXPECT_EQ(table->Revoke(0), E_INVALIDARG);
    EXPECT_EQ(table->Register(0, nullptr, name.get(), &cookie), E_INVALIDARG);
    EXPECT_EQ(table->Register(0, static_cast<IPersist*>(graph.get()), nullptr, &cookie), E_INVALIDARG);
}

} // namespace
