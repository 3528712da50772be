// What a host asks of the control before and after placing it: its connection points, its class
// information and its named persistence, each reached through QueryInterface.
#include "platform/com/guid_text.h"
#include "platform/com/ocidl.h"
#include "platform/com/typelib.h"
#include "platform/com/typelib_cache.h"
#include "platform/com/utf.h"
#include "tests/portctl/pinbus_fixture.h"
#include "tools/text_property_bag.h"

namespace {

using HostInterfacesTest = PinbusTest;

// A sink answering the interfaces it is given; counts its references.
class Sink final : public IDispatch {
public:
    explicit Sink(std::vector<IID> answers) : answers_(std::move(answers)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        bool answered = riid == IID_IUnknown;
        for (const IID& iid : answers_) answered = answered || riid == iid;
        if (!answered) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
    ULONG refs = 0;

private:
    std::vector<IID> answers_;
};

ComPtr<IConnectionPoint> EventsPoint(const ComPtr<IDispatch>& control) {
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(control.As(IID_IConnectionPointContainer, std::addressof(container)), S_OK);
    ComPtr<IConnectionPoint> point;
    if (container) {
        EXPECT_EQ(container->FindConnectionPoint(IID_DPinbusEvents, &point), S_OK);
    }
    return point;
}

TEST_F(HostInterfacesTest, OneConnectionPointForTheEventInterface) {
    auto c = NewControl();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(c.As(IID_IConnectionPointContainer, std::addressof(container)), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_DPinbusEvents, &point), S_OK);
    IID iid{};
    ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IID_DPinbusEvents);
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(point->GetConnectionPointContainer(&back), S_OK);
    ComPtr<IUnknown> a, b;
    ASSERT_EQ(back.As(IID_IUnknown, std::addressof(a)), S_OK);
    ASSERT_EQ(c.As(IID_IUnknown, std::addressof(b)), S_OK);
    EXPECT_EQ(a.Get(), b.Get());

    // Nothing else is a source of this control.
    IConnectionPoint* none = reinterpret_cast<IConnectionPoint*>(0x1);
    EXPECT_EQ(container->FindConnectionPoint(IID_DPinbus, &none), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &none), CONNECT_E_NOCONNECTION);

    // The enumeration holds exactly that point.
    ComPtr<IEnumConnectionPoints> e;
    ASSERT_EQ(container->EnumConnectionPoints(&e), S_OK);
    IConnectionPoint* got[2] = {};
    ULONG fetched = 9;
    EXPECT_EQ(e->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(got[0], point.Get());
    got[0]->Release();
    EXPECT_EQ(e->Next(1, got, nullptr), S_FALSE);
    EXPECT_EQ(e->Next(2, got, nullptr), E_POINTER);
    ASSERT_EQ(e->Reset(), S_OK);
    ComPtr<IEnumConnectionPoints> clone;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(e->Skip(2), S_FALSE);
    ASSERT_EQ(clone->Next(1, got, nullptr), S_OK);  // the clone kept its own position
    got[0]->Release();
}

TEST_F(HostInterfacesTest, AdviseAndUnadviseFollowTheCookieRules) {
    auto c = NewControl();
    auto point = EventsPoint(c);
    ASSERT_TRUE(point);
    Sink plain({});
    Sink dispatchSink({IID_IDispatch});
    Sink eventSink({IID_DPinbusEvents});

    DWORD cookie = 77;
    EXPECT_EQ(point->Advise(&plain, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(plain.refs, 0u);
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(point->Advise(&dispatchSink, nullptr), E_POINTER);

    DWORD first = 0, second = 0;
    ASSERT_EQ(point->Advise(&dispatchSink, &first), S_OK);
    ASSERT_EQ(point->Advise(&eventSink, &second), S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(dispatchSink.refs, 1u);
    EXPECT_EQ(eventSink.refs, 1u);

    ComPtr<IEnumConnections> e;
    ASSERT_EQ(point->EnumConnections(&e), S_OK);
    CONNECTDATA data[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(data[0].dwCookie, first);
    EXPECT_EQ(data[1].dwCookie, second);
    data[0].pUnk->Release();
    data[1].pUnk->Release();
    e.Reset();  // the enumeration's own references go with it
    EXPECT_EQ(dispatchSink.refs, 1u);

    EXPECT_EQ(point->Unadvise(first), S_OK);
    EXPECT_EQ(dispatchSink.refs, 0u);
    EXPECT_EQ(point->Unadvise(first), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);

    // A cookie taken back is not handed out again while others live.
    DWORD third = 0;
    ASSERT_EQ(point->Advise(&dispatchSink, &third), S_OK);
    EXPECT_NE(third, second);

    // The object lets its sinks go when it dies; the point kept it alive until then.
    c.Reset();
    EXPECT_EQ(eventSink.refs, 1u);
    EXPECT_EQ(lib->DllCanUnloadNow(), S_FALSE);
    point.Reset();
    EXPECT_EQ(eventSink.refs, 0u);
    EXPECT_EQ(dispatchSink.refs, 0u);
    EXPECT_EQ(lib->DllCanUnloadNow(), S_OK);
}

TEST_F(HostInterfacesTest, DefaultSourceInterface) {
    auto c = NewControl();
    ComPtr<IProvideClassInfo2> info;
    ASSERT_EQ(c.As(IID_IProvideClassInfo2, std::addressof(info)), S_OK);
    GUID guid{};
    ASSERT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), S_OK);
    EXPECT_EQ(guid, IID_DPinbusEvents);
    EXPECT_EQ(info->GetGUID(2, &guid), E_INVALIDARG);
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);
    ComPtr<IProvideClassInfo> plain;
    ASSERT_EQ(c.As(IID_IProvideClassInfo, std::addressof(plain)), S_OK);
    // Without the registered type library there is no class information.
    ClearTypeLibCache();
    TempRegistry registry;
    ITypeInfo* none = reinterpret_cast<ITypeInfo*>(0x1);
    EXPECT_TRUE(FAILED(plain->GetClassInfo(&none)));
    EXPECT_EQ(none, nullptr);
}

TEST_F(HostInterfacesTest, ClassInformationFromTheRegisteredTypeLibrary) {
    ClearTypeLibCache();
    TempRegistry registry;
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    auto c = NewControl();
    ComPtr<IProvideClassInfo> provider;
    ASSERT_EQ(c.As(IID_IProvideClassInfo, std::addressof(provider)), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(provider->GetClassInfo(&info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_EQ(attr->guid, CLSID_Pinbus);
    EXPECT_EQ(attr->cImplTypes, 2);
    info->ReleaseTypeAttr(attr);
    BSTR name = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(OleToUtf8(name), "Pinbus");
    SysFreeString(name);
    // The source interface named by the coclass is the one the connection point serves.
    INT flags = 0;
    ASSERT_EQ(info->GetImplTypeFlags(1, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    HREFTYPE ref = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(1, &ref), S_OK);
    ComPtr<ITypeInfo> source;
    ASSERT_EQ(info->GetRefTypeInfo(ref, &source), S_OK);
    ASSERT_EQ(source->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_DPinbusEvents);
    source->ReleaseTypeAttr(attr);
    ClearTypeLibCache();
}

// ---------------------------------------------------------------- named persistence

// Records what the control reports about the properties it could not take.
class RecordingLog final : public IErrorLog {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE AddError(LPCOLESTR name, EXCEPINFO* info) override {
        errors.push_back(OleToUtf8(name) + " " + HresultToString(info ? info->scode : 0));
        return S_OK;
    }
    std::vector<std::string> errors;
};

// A bag whose Read and Write fail for one name.
class FailingBag final : public IPropertyBag {
public:
    FailingBag(const char16_t* name, HRESULT hr) : name_(name), hr_(hr) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* v, IErrorLog*) override {
        if (name_ != name) return E_INVALIDARG;
        v->vt = VT_I4;
        v->lVal = 0x999;  // must not be taken when the call fails
        return hr_;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT*) override {
        return name_ == name ? hr_ : S_OK;
    }

private:
    std::u16string name_;
    HRESULT hr_;
};

ComPtr<IPersistPropertyBag> Bag(const ComPtr<IDispatch>& control) {
    ComPtr<IPersistPropertyBag> bag;
    EXPECT_EQ(control.As(IID_IPersistPropertyBag, std::addressof(bag)), S_OK);
    return bag;
}

HRESULT LoadText(const ComPtr<IDispatch>& control, const std::string& text,
                 IErrorLog* log = nullptr) {
    TextPropertyBag bag;
    auto parsed = bag.Parse(text);
    EXPECT_TRUE(parsed) << parsed.message();
    return Bag(control)->Load(&bag, log);
}

TEST_F(HostInterfacesTest, SaveWritesEveryPropertyInExchangeOrder) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x278)), S_OK);
    TextPropertyBag bag;
    ASSERT_EQ(Bag(c)->Save(&bag, FALSE, TRUE), S_OK);
    EXPECT_EQ(bag.Lines(),
              (std::vector<std::string>{"_Version=65536", "_ExtentX=635", "_ExtentY=582",
                                        "_StockProps=0", "Address=632", "Bits=8"}));
    EXPECT_EQ(Persist(c)->IsDirty(), S_OK);  // no clear-dirty: still modified
    ASSERT_EQ(Bag(c)->Save(&bag, TRUE, TRUE), S_OK);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);

    // What one control saved, another loads.
    auto d = NewControl();
    ASSERT_EQ(Bag(d)->Load(&bag, nullptr), S_OK);
    EXPECT_EQ(GetI4(d.Get(), kAddress), 0x278);
    CLSID clsid{};
    ASSERT_EQ(Bag(d)->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Pinbus);
    EXPECT_EQ(Bag(d)->Save(nullptr, TRUE, TRUE), E_POINTER);
    EXPECT_EQ(Bag(d)->Load(nullptr, nullptr), E_POINTER);
}

TEST_F(HostInterfacesTest, MissingPropertiesTakeTheirDefaults) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x3BC)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(16)), S_OK);
    ASSERT_EQ(LoadText(c, ""), S_OK);
    EXPECT_EQ(GetI4(c.Get(), kAddress), 0x378);
    EXPECT_EQ(GetI2(c.Get(), kBits), 8);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);

    // Names in any case, values converted from text, Bits taken unchecked.
    ASSERT_EQ(LoadText(c, "address=632;BITS=12.5"), S_OK);
    EXPECT_EQ(GetI4(c.Get(), kAddress), 632);
    EXPECT_EQ(GetI2(c.Get(), kBits), 12);  // half to even
    ASSERT_EQ(LoadText(c, "Bits=16"), S_OK);
    EXPECT_EQ(GetI4(c.Get(), kAddress), 0x378);
    EXPECT_EQ(GetI2(c.Get(), kBits), 16);
}

TEST_F(HostInterfacesTest, AValueThatCannotBeConvertedChangesNothing) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x278)), S_OK);
    const std::string before = Save(c, FALSE);
    RecordingLog log;
    EXPECT_EQ(LoadText(c, "Address=0x3BC;Bits=none", &log), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(LoadText(c, "Address=888;Bits=32768", &log), DISP_E_OVERFLOW);
    EXPECT_EQ(LoadText(c, "Address=2147483648", &log), DISP_E_OVERFLOW);
    EXPECT_EQ(LoadText(c, "_Version=-1", &log), DISP_E_OVERFLOW);
    EXPECT_EQ(log.errors, (std::vector<std::string>{"Address 0x80020005", "Bits 0x8002000a",
                                                    "Address 0x8002000a", "_Version 0x8002000a"}));
    EXPECT_EQ(Save(c, FALSE), before);
    EXPECT_EQ(Persist(c)->IsDirty(), S_OK);

    // A bag that fails to read a property it holds is a failure too, not a default.
    FailingBag failing(u"Bits", E_FAIL);
    EXPECT_EQ(Bag(c)->Load(&failing, nullptr), E_FAIL);
    EXPECT_EQ(Save(c, FALSE), before);
    // And one that cannot write keeps the object modified.
    EXPECT_EQ(Bag(c)->Save(&failing, TRUE, TRUE), E_FAIL);
    EXPECT_EQ(Persist(c)->IsDirty(), S_OK);
}

TEST_F(HostInterfacesTest, InitNewThroughTheBagInterfaceResets) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(1)), S_OK);
    ASSERT_EQ(Bag(c)->InitNew(), S_OK);
    EXPECT_EQ(GetI4(c.Get(), kAddress), 0x378);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
}

TEST(TextPropertyBagTest, ParsesNameValueLists) {
    TextPropertyBag bag;
    ASSERT_TRUE(bag.Parse(";Address=888;;Bits=;"));
    EXPECT_EQ(bag.Lines(), (std::vector<std::string>{"Address=888", "Bits="}));
    auto twice = bag.Parse("Address=1;address=2");
    EXPECT_FALSE(twice);
    EXPECT_EQ(twice.message(), "address is given twice");
    EXPECT_TRUE(bag.Lines().empty());
    EXPECT_FALSE(bag.Parse("Address"));
    EXPECT_FALSE(bag.Parse("=5"));
}

}  // namespace
