// COleControl as a container finds it through the platform's embedding interfaces: its site,
// status and extents, verbs, property pages, view and control interfaces, and Close. Drawing and
// in-place activation in real windows are the control module's tests (tests/portctl).
#include <gtest/gtest.h>

#include <vector>

#include "platform/com/combase.h"
#include "platform/com/guid_text.h"
#include "platform/com/memory_stream.h"
#include "tests/platform/ctl/test_control.h"
#include "tests/support/recording_site.h"

namespace {

using test_support::RecordingAdviseSink;
using test_support::RecordingSite;

// A control held by one reference and given back at the end.
class EmbeddingTest : public ::testing::Test {
protected:
    void TearDown() override {
        ctrl->SetClientSite(nullptr);
        EXPECT_EQ(ctrl->Release(), 0u);
    }
    IOleObject* Ole() { return static_cast<IOleObject*>(ctrl); }
    CTestCtrl* ctrl = NewTestCtrl();
    RecordingSite site;
};

TEST_F(EmbeddingTest, StatusAndExtentsInHimetric) {
    DWORD misc = 0;
    ASSERT_EQ(Ole()->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(misc, 0x20591u);
    EXPECT_TRUE(misc & OLEMISC_SETCLIENTSITEFIRST);
    ASSERT_EQ(Ole()->GetMiscStatus(DVASPECT_ICON, &misc), S_OK);
    EXPECT_EQ(misc, 0u);
    EXPECT_EQ(Ole()->GetMiscStatus(DVASPECT_CONTENT, nullptr), E_POINTER);

    // 100 x 50 pixels at 96 per inch, until the control or a container says otherwise; the view
    // reports the same extent as the object.
    SIZEL size{};
    ASSERT_EQ(Ole()->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, 2646);
    EXPECT_EQ(size.cy, 1323);
    SIZEL view{};
    ASSERT_EQ(ctrl->GetExtent(DVASPECT_CONTENT, -1, nullptr, &view), S_OK);
    EXPECT_EQ(view.cx, 2646);
    EXPECT_EQ(view.cy, 1323);
    // The view's lindex is -1 (the whole object) and nothing else.
    for (LONG lindex : {LONG{0}, LONG{1}, LONG{-2}}) {
        EXPECT_EQ(ctrl->GetExtent(DVASPECT_CONTENT, lindex, nullptr, &view), DV_E_LINDEX);
        LOGPALETTE* colours = nullptr;
        EXPECT_EQ(ctrl->GetColorSet(DVASPECT_CONTENT, lindex, nullptr, nullptr, nullptr, &colours),
                  DV_E_LINDEX);
        DWORD frozen = 1;
        EXPECT_EQ(ctrl->Freeze(DVASPECT_CONTENT, lindex, nullptr, &frozen), DV_E_LINDEX);
    }
    EXPECT_EQ(Ole()->SetExtent(DVASPECT_ICON, &size), DV_E_DVASPECT);
    EXPECT_EQ(Ole()->GetExtent(DVASPECT_ICON, &size), DV_E_DVASPECT);
    EXPECT_EQ(Ole()->SetExtent(DVASPECT_CONTENT, nullptr), E_POINTER);

    // A new extent is part of the saved state (and so makes the control dirty) and changes the
    // picture, which the view's advise sink hears; the same extent again changes nothing.
    RecordingAdviseSink sink;
    ASSERT_EQ(ctrl->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);
    SIZEL form{1085, 873};
    ASSERT_EQ(Ole()->SetExtent(DVASPECT_CONTENT, &form), S_OK);
    EXPECT_EQ(ctrl->IsDirty(), S_OK);
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
    ASSERT_EQ(ctrl->Save(stream.Get(), TRUE), S_OK);
    ASSERT_EQ(Ole()->SetExtent(DVASPECT_CONTENT, &form), S_OK);
    EXPECT_EQ(ctrl->IsDirty(), S_FALSE);
    EXPECT_EQ(sink.calls, std::vector<std::string>{"OnViewChange 1 -1"});
    ASSERT_EQ(ctrl->SetAdvise(DVASPECT_CONTENT, 0, nullptr), S_OK);
    EXPECT_EQ(sink.refs, 1u);
}

TEST_F(EmbeddingTest, TheViewsAdviseSinkIsPrimedAndToldOnceWhenAsked) {
    RecordingAdviseSink sink;
    ASSERT_EQ(ctrl->SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST | ADVF_ONLYONCE, &sink), S_OK);
    EXPECT_EQ(sink.calls, std::vector<std::string>{"OnViewChange 1 -1"});
    SIZEL size{10, 10};
    ASSERT_EQ(Ole()->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(sink.calls.size(), 1u);  // only once
    IAdviseSink* held = reinterpret_cast<IAdviseSink*>(0x1);
    DWORD aspects = 0, advf = 0;
    ASSERT_EQ(ctrl->GetAdvise(&aspects, &advf, &held), S_OK);
    EXPECT_EQ(held, nullptr);
    EXPECT_EQ(sink.refs, 1u);
}

TEST_F(EmbeddingTest, VerbsInMenuOrderWithTaskStringsAndNothingPastTheEnd) {
    ComPtr<IEnumOLEVERB> verbs;
    ASSERT_EQ(Ole()->EnumVerbs(&verbs), S_OK);
    OLEVERB got[10] = {};
    ULONG fetched = 0;
    // Asking for more than there are: the ones there are, and S_FALSE.
    ASSERT_EQ(verbs->Next(10, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 7u);
    const LONG want[] = {0, -1, -2, -3, -4, -5, -6};
    for (ULONG i = 0; i < fetched; ++i) {
        EXPECT_EQ(got[i].lVerb, want[i]);
        ASSERT_NE(got[i].lpszVerbName, nullptr);
        EXPECT_EQ(got[i].grfAttribs, DWORD(OLEVERBATTRIB_NEVERDIRTIES));
        CoTaskMemFree(got[i].lpszVerbName);  // the receiver's to free
    }
    EXPECT_EQ(verbs->Next(1, got, nullptr), S_FALSE);
    EXPECT_EQ(verbs->Next(2, got, nullptr), E_POINTER);  // a count is needed for more than one
    EXPECT_EQ(verbs->Skip(1), S_FALSE);
    ASSERT_EQ(verbs->Reset(), S_OK);
    ASSERT_EQ(verbs->Skip(6), S_OK);
    ComPtr<IEnumOLEVERB> clone;
    ASSERT_EQ(verbs->Clone(&clone), S_OK);
    ASSERT_EQ(clone->Next(1, got, &fetched), S_OK);
    EXPECT_EQ(got[0].lVerb, OLEIVERB_DISCARDUNDOSTATE);
    EXPECT_EQ(std::u16string(got[0].lpszVerbName), u"&Discard Undo State");
    CoTaskMemFree(got[0].lpszVerbName);
}

TEST_F(EmbeddingTest, ActivationNeedsASiteThatOffersItAndWantsIt) {
    // No site, no in-place site, a site that says not now: nothing is activated.
    EXPECT_EQ(Ole()->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr),
              E_UNEXPECTED);
    ASSERT_EQ(Ole()->SetClientSite(&site), S_OK);
    site.inPlace = false;
    EXPECT_EQ(Ole()->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, nullptr, nullptr), E_NOINTERFACE);
    site.inPlace = true;
    site.canActivate = S_FALSE;
    site.TakeCalls();
    EXPECT_EQ(Ole()->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, nullptr, nullptr),
              OLEOBJ_S_CANNOT_DOVERB_NOW);
    EXPECT_EQ(site.TakeCalls(),
              (std::vector<std::string>{"QueryInterface IOleInPlaceSite", "CanInPlaceActivate"}));
    // A window handle that names no window (and without the GUI, no window at all): the site
    // hears the activation end again.
    site.canActivate = S_OK;
    site.window = reinterpret_cast<HWND>(0x4321);
    site.position = RECT{0, 0, 24, 22};
    const HRESULT hr = Ole()->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, nullptr);
    EXPECT_TRUE(hr == OLE_E_INVALIDHWND || hr == E_NOTIMPL) << HresultToString(hr);
    EXPECT_EQ(site.TakeCalls(),
              (std::vector<std::string>{"QueryInterface IOleInPlaceSite", "CanInPlaceActivate",
                                        "OnInPlaceActivate", "GetWindow", "GetWindowContext",
                                        "OnInPlaceDeactivate"}));
    EXPECT_EQ(site.frameInfoSize, sizeof(OLEINPLACEFRAMEINFO));
    HWND window = reinterpret_cast<HWND>(0x1);
    EXPECT_EQ(ctrl->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(ctrl->InPlaceDeactivate(), S_OK);  // not active: nothing to do
    EXPECT_TRUE(site.TakeCalls().empty());
}

TEST_F(EmbeddingTest, UnknownVerbsAndTheVerbsWithNothingToDo) {
    ASSERT_EQ(Ole()->SetClientSite(&site), S_OK);
    site.canActivate = S_FALSE;
    EXPECT_EQ(Ole()->DoVerb(-100, nullptr, &site, 0, nullptr, nullptr), E_NOTIMPL);
    // A positive verb it does not know runs the primary verb (here not now) and says so.
    EXPECT_EQ(Ole()->DoVerb(5, nullptr, &site, 0, nullptr, nullptr), OLEOBJ_S_INVALIDVERB);
    // No pages, no properties verb.
    EXPECT_EQ(Ole()->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(Ole()->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(Ole()->DoVerb(OLEIVERB_DISCARDUNDOSTATE, nullptr, &site, 0, nullptr, nullptr), S_OK);
    // DoVerb's lindex is reserved: zero, else DV_E_LINDEX whatever the verb.
    for (LONG verb : {OLEIVERB_HIDE, OLEIVERB_INPLACEACTIVATE, LONG{5}}) {
        EXPECT_EQ(Ole()->DoVerb(verb, nullptr, &site, 1, nullptr, nullptr), DV_E_LINDEX);
        EXPECT_EQ(Ole()->DoVerb(verb, nullptr, &site, -1, nullptr, nullptr), DV_E_LINDEX);
    }
    EXPECT_FALSE(ctrl->IsModified());
    CAUUID pages{7, reinterpret_cast<GUID*>(0x1)};
    ASSERT_EQ(ctrl->GetPages(&pages), S_OK);
    EXPECT_EQ(pages.cElems, 0u);
    EXPECT_EQ(pages.pElems, nullptr);
    EXPECT_EQ(ctrl->GetPages(nullptr), E_POINTER);
}

TEST_F(EmbeddingTest, CloseSavesOnlyWhenAskedAndTellsTheSinks) {
    ASSERT_EQ(Ole()->SetClientSite(&site), S_OK);
    RecordingAdviseSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(Ole()->Advise(&sink, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    ctrl->SetModifiedFlag();
    EXPECT_EQ(Ole()->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_TRUE(site.TakeCalls().empty());
    EXPECT_EQ(Ole()->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_EQ(site.TakeCalls(), std::vector<std::string>{"SaveObject"});
    EXPECT_EQ(sink.calls, (std::vector<std::string>{"OnClose", "OnClose"}));
    EXPECT_EQ(Ole()->Close(3), E_INVALIDARG);
    EXPECT_EQ(Ole()->Unadvise(cookie), S_OK);
    EXPECT_EQ(Ole()->Unadvise(cookie), OLE_E_NOCONNECTION);
    EXPECT_EQ(sink.refs, 1u);
    // The site is the container's again once it takes it back.
    IOleClientSite* held = nullptr;
    ASSERT_EQ(Ole()->GetClientSite(&held), S_OK);
    EXPECT_EQ(held, &site);
    held->Release();
    ASSERT_EQ(Ole()->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 1u);
}

TEST_F(EmbeddingTest, DrawingAndTheTypeNameRefuseWhatTheyCannotServe) {
    // Drawing: the content aspect, whole, onto a device context within bounds.
    const RECTL bounds{0, 0, 10, 10};
    HDC none = reinterpret_cast<HDC>(0x4321);
    EXPECT_EQ(ctrl->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, none, &bounds, nullptr,
                         nullptr, 0),
              DV_E_DVASPECT);
    EXPECT_EQ(ctrl->Draw(DVASPECT_CONTENT, 0, nullptr, nullptr, nullptr, none, &bounds, nullptr,
                         nullptr, 0),
              DV_E_LINDEX);
    EXPECT_EQ(ctrl->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr,
                         nullptr, 0),
              E_INVALIDARG);
    EXPECT_EQ(ctrl->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, none, nullptr, nullptr,
                         nullptr, 0),
              E_INVALIDARG);
    // A handle that names no device context is refused (without the GUI: nothing draws at all).
    const HRESULT unknown = ctrl->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, none,
                                       &bounds, nullptr, nullptr, 0);
    EXPECT_TRUE(unknown == E_INVALIDARG || unknown == E_NOTIMPL) << HresultToString(unknown);

    // The user type name comes from the module's strings; this test program has none.
    LPOLESTR name = reinterpret_cast<LPOLESTR>(0x1);
    EXPECT_EQ(Ole()->GetUserType(USERCLASSTYPE_FULL, &name), E_FAIL);
    EXPECT_EQ(name, nullptr);
}

}  // namespace
