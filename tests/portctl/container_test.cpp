// Pinbus in a container, through the platform's embedding interfaces only: the sequence a real
// form container plays (QueryInterface IOleObject and IPersistStreamInit, InitNew, SetClientSite,
// SetHostNames, SetExtent, in-place activation in its window, SetExtent, SetObjectRects, Close,
// SetClientSite(NULL), release), and what a form host does instead (site first, stored stream,
// no host names). The container's window is a widget on the offscreen platform.
#include <QDialog>
#include <QImage>
#include <QWidget>
#include <memory>

#include "platform/com/memory_stream.h"
#include "platform/com/module_resources.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/window_handles.h"
#include "tests/portctl/pinbus_fixture.h"
#include "tests/support/recording_site.h"

namespace {

using test_support::RecordingSite;

class ContainerTest : public PinbusTest {
protected:
    void SetUp() override {
        PinbusTest::SetUp();
        ASSERT_TRUE(ui::KeepApplication());
        form_ = std::make_unique<QWidget>();  // once there is an application for it
        form_->resize(300, 200);
        site.window = ui::HandleOfWidget(form_.get());
        site.position = RECT{10, 20, 58, 64};  // the picture at twice its size
    }
    void TearDown() override {
        ui::SetDialogShownHookForTesting(nullptr);
        PinbusTest::TearDown();
    }
    // A new object as a container gets it: IUnknown from the class object, nothing else done.
    ComPtr<IUnknown> Create() {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(lib->DllGetClassObject(CLSID_Pinbus, IID_IClassFactory,
                                         factory.ReleaseAndGetVoidAddress()),
                  S_OK);
        ComPtr<IUnknown> object;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.ReleaseAndGetVoidAddress()),
                  S_OK);
        return object;
    }
    template <typename T>
    static ComPtr<T> Query(const ComPtr<IUnknown>& object, REFIID iid) {
        ComPtr<T> out;
        EXPECT_EQ(object.As(iid, std::addressof(out)), S_OK);
        return out;
    }
    // The control's own window, through IOleInPlaceObject (null when it has none).
    static QWidget* ControlWindow(const ComPtr<IUnknown>& object, HWND* handle = nullptr) {
        HWND window = nullptr;
        Query<IOleInPlaceObject>(object, IID_IOleInPlaceObject)->GetWindow(&window);
        if (handle) *handle = window;
        return ui::WidgetOfHandle(window);
    }
    QImage Bitmap() {
        const auto found = FindModuleResource(lib->path, ResourceType::Bitmap, 1);
        EXPECT_TRUE(found) << found.message();
        QImage image;
        if (found)
            image.loadFromData(reinterpret_cast<const uchar*>((*found).data()),
                               static_cast<int>((*found).size()), "BMP");
        return image;
    }

    std::unique_ptr<QWidget> form_;
    RecordingSite site;
};

TEST_F(ContainerTest, TheMeasuredContainerSequence) {
    ComPtr<IUnknown> object = Create();
    auto ole = Query<IOleObject>(object, IID_IOleObject);
    ASSERT_TRUE(ole);
    auto persist = Query<IPersistStreamInit>(object, IID_IPersistStreamInit);
    ASSERT_EQ(persist->InitNew(), S_OK);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    ASSERT_EQ(ole->SetHostNames(u"Container", nullptr), S_OK);
    SIZEL extent{1270, 1164};  // 48 x 44 pixels
    ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_TRUE(site.TakeCalls().empty());  // nothing is asked of the site until activation

    ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window, &site.position),
              S_OK);
    EXPECT_EQ(site.TakeCalls(),
              (std::vector<std::string>{"QueryInterface IOleInPlaceSite", "CanInPlaceActivate",
                                        "OnInPlaceActivate", "GetWindow", "GetWindowContext"}));
    ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
    HWND handle = nullptr;
    QWidget* window = ControlWindow(object, &handle);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->parentWidget(), form_.get());
    EXPECT_EQ(window->geometry(), QRect(10, 20, 48, 44));
    EXPECT_TRUE(window->isVisibleTo(form_.get()));

    // The window shows the picture, stretched over it.
    const QImage shown = window->grab().toImage();
    const QImage bitmap = Bitmap();
    ASSERT_EQ(bitmap.size(), QSize(24, 22));
    EXPECT_EQ(shown.pixel(0, 0) | 0xFF000000u, bitmap.pixel(0, 0) | 0xFF000000u);
    EXPECT_EQ(shown.pixel(47, 43) | 0xFF000000u, bitmap.pixel(23, 21) | 0xFF000000u);
    EXPECT_EQ(shown.pixel(24, 22) | 0xFF000000u, bitmap.pixel(12, 11) | 0xFF000000u);

    const RECT moved{100, 50, 148, 94};
    ASSERT_EQ(
        Query<IOleInPlaceObject>(object, IID_IOleInPlaceObject)->SetObjectRects(&moved, &moved),
        S_OK);
    EXPECT_EQ(window->geometry(), QRect(100, 50, 48, 44));

    // Teardown: Close, then the site taken back, then the last release.
    ASSERT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site.TakeCalls(), std::vector<std::string>{"OnInPlaceDeactivate"});
    EXPECT_EQ(ui::WidgetOfHandle(handle), nullptr);  // its window is gone
    ASSERT_EQ(ole->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 1u);
    persist.Reset();
    ole.Reset();
    object.Reset();
    EXPECT_EQ(lib->DllCanUnloadNow(), S_OK);
    EXPECT_TRUE(form_->findChildren<QWidget*>().isEmpty());
    EXPECT_TRUE(cycles.empty());
}

// A form host: the site first (the control asks for that), then the stored stream, no host
// names; the control is made UI-active, hidden and shown again, and its site taken away while
// it is still active.
TEST_F(ContainerTest, AFormHostsOrderAndASiteTakenAwayWhileActive) {
    ComPtr<IUnknown> object = Create();
    auto ole = Query<IOleObject>(object, IID_IOleObject);
    DWORD misc = 0;
    ASSERT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    ASSERT_TRUE(misc & OLEMISC_SETCLIENTSITEFIRST);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    ComPtr<IStream> stream;
    const std::string form_stream =
        Hex("00 00 01 00 3d 04 00 00 69 03 00 00 00 00 00 00 78 03 00 00 08 00");
    ASSERT_EQ(CreateStreamOnMemory(form_stream.data(), ULONG(form_stream.size()), &stream), S_OK);
    ASSERT_EQ(Query<IPersistStreamInit>(object, IID_IPersistStreamInit)->Load(stream.Get()), S_OK);
    SIZEL extent{};
    ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 1085);  // HIMETRIC, as the stream holds it
    EXPECT_EQ(extent.cy, 873);

    ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, site.window, &site.position),
              S_OK);
    EXPECT_EQ(site.TakeCalls().back(), "OnUIActivate");
    QWidget* window = ControlWindow(object);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, site.window, &site.position), S_OK);
    EXPECT_EQ(site.TakeCalls(), std::vector<std::string>{"OnUIDeactivate"});
    EXPECT_FALSE(window->isVisibleTo(form_.get()));
    ASSERT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, site.window, &site.position), S_OK);
    EXPECT_TRUE(site.TakeCalls().empty());  // still active: nothing to ask again
    EXPECT_TRUE(window->isVisibleTo(form_.get()));

    ASSERT_EQ(ole->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.TakeCalls(), std::vector<std::string>{"OnInPlaceDeactivate"});
    EXPECT_EQ(ControlWindow(object), nullptr);
    EXPECT_EQ(site.refs, 1u);
    EXPECT_EQ(Query<IPersistStreamInit>(object, IID_IPersistStreamInit)->IsDirty(), S_FALSE);
}

// UI activation in a container with a frame and a document window: the site hears first, then
// both windows get the control as their active object; deactivation takes it back from both
// (document first) before the site hears; the windows hold no reference afterwards.
TEST_F(ContainerTest, TheFrameAndTheDocumentWindowKnowTheActiveObject) {
    ComPtr<IUnknown> object = Create();
    auto ole = Query<IOleObject>(object, IID_IOleObject);
    ASSERT_EQ(Query<IPersistStreamInit>(object, IID_IPersistStreamInit)->InitNew(), S_OK);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    site.offersFrame = true;
    site.offersDocument = true;
    ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, site.window, &site.position),
              S_OK);
    EXPECT_EQ(site.TakeCalls(),
              (std::vector<std::string>{"QueryInterface IOleInPlaceSite", "CanInPlaceActivate",
                                        "OnInPlaceActivate", "GetWindow", "GetWindowContext",
                                        "OnUIActivate", "frame SetActiveObject object",
                                        "document SetActiveObject object"}));
    // The active object is the control itself.
    ASSERT_NE(site.frame.active, nullptr);
    EXPECT_EQ(site.document.active, site.frame.active);
    auto active = Query<IOleInPlaceActiveObject>(object, IID_IOleInPlaceActiveObject);
    EXPECT_EQ(active.Get(), site.frame.active);
    HWND handle = nullptr;
    ASSERT_EQ(site.frame.active->GetWindow(&handle), S_OK);
    EXPECT_EQ(ui::WidgetOfHandle(handle), ControlWindow(object));
    MSG message{};
    EXPECT_EQ(active->TranslateAccelerator(&message), S_FALSE);  // nothing of its own
    active.Reset();

    // Activating again changes nothing; UI deactivation takes the object back.
    ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, site.window, &site.position),
              S_OK);
    EXPECT_TRUE(site.TakeCalls().empty());
    ASSERT_EQ(Query<IOleInPlaceObject>(object, IID_IOleInPlaceObject)->UIDeactivate(), S_OK);
    EXPECT_EQ(site.TakeCalls(),
              (std::vector<std::string>{"document SetActiveObject null",
                                        "frame SetActiveObject null", "OnUIDeactivate"}));
    EXPECT_EQ(site.frame.active, nullptr);

    // UI-active again, then closed: the windows let it go as the control deactivates.
    ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, site.window, &site.position),
              S_OK);
    EXPECT_EQ(site.TakeCalls(),
              (std::vector<std::string>{"OnUIActivate", "frame SetActiveObject object",
                                        "document SetActiveObject object"}));
    ASSERT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site.TakeCalls(), (std::vector<std::string>{
                                    "document SetActiveObject null", "frame SetActiveObject null",
                                    "OnUIDeactivate", "OnInPlaceDeactivate"}));
    EXPECT_EQ(site.frame.refs, 1u);
    EXPECT_EQ(site.document.refs, 1u);
    ASSERT_EQ(ole->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 1u);
}

// The properties verb of a control in a container: the frame is the container's window's, and
// the site is asked for a frame of its own first.
TEST_F(ContainerTest, ThePropertiesVerbOpensTheFrameOverTheContainersWindow) {
    TempRegistry registry;
    ASSERT_EQ(lib->DllRegisterServer(), S_OK);
    ComPtr<IUnknown> object = Create();
    auto ole = Query<IOleObject>(object, IID_IOleObject);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    ASSERT_EQ(Query<IPersistStreamInit>(object, IID_IPersistStreamInit)->InitNew(), S_OK);
    QWidget* owner = nullptr;
    ui::SetDialogShownHookForTesting([&](void* widget) {
        auto* frame = static_cast<QDialog*>(static_cast<QWidget*>(widget));
        owner = frame->parentWidget();
        frame->reject();
    });
    ASSERT_EQ(ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(owner, form_.get());
    const std::vector<std::string> calls = site.TakeCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "QueryInterface IOleControlSite");
    ASSERT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    ASSERT_EQ(ole->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 1u);
}

}  // namespace
