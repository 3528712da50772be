// The host: one object at a time, its commands' table and the dispatch of a command line.
#include "tools/ocxhost/host.h"

#include <memory>

#include "platform/com/com_holders.h"
#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/typelib.h"

namespace ocxhost {
namespace {

const char kHelpHead[] =
    "Usage: ocxhost [--close-dialogs] [--help] [--version]\n"
    "A control test container: reads commands from standard input, one per line, and prints\n"
    "each result on standard output. The class registry is the file named by OLE_REGISTRY.\n"
    "  --close-dialogs  print \"dialog TITLE\" for each dialog the object shows and close it\n"
    "                   at once, for scripted runs\n"
    "\n";
const char kHelpTail[] =
    "\n"
    "Results print as \"VT_I4 888\", \"S_OK\", \"S_FALSE\" or \"error 0x80020005\".\n"
    "Empty lines and lines starting with # are ignored.\n";

// The interfaces the platform stand-in knows, in the order `interfaces` lists them.
struct KnownInterface {
    const char* name;
    const IID* iid;
};
constexpr KnownInterface kKnownInterfaces[] = {
    {"IUnknown", &IID_IUnknown},
    {"IDispatch", &IID_IDispatch},
    {"IPersist", &IID_IPersist},
    {"IPersistStream", &IID_IPersistStream},
    {"IPersistStreamInit", &IID_IPersistStreamInit},
    {"IPersistPropertyBag", &IID_IPersistPropertyBag},
    {"IPersistStorage", &IID_IPersistStorage},
    {"IPersistMemory", &IID_IPersistMemory},
    {"IQuickActivate", &IID_IQuickActivate},
    {"IConnectionPointContainer", &IID_IConnectionPointContainer},
    {"IConnectionPoint", &IID_IConnectionPoint},
    {"IEnumConnectionPoints", &IID_IEnumConnectionPoints},
    {"IEnumConnections", &IID_IEnumConnections},
    {"IProvideClassInfo", &IID_IProvideClassInfo},
    {"IProvideClassInfo2", &IID_IProvideClassInfo2},
    {"IOleObject", &IID_IOleObject},
    {"IOleWindow", &IID_IOleWindow},
    {"IOleInPlaceObject", &IID_IOleInPlaceObject},
    {"IOleInPlaceActiveObject", &IID_IOleInPlaceActiveObject},
    {"IViewObject", &IID_IViewObject},
    {"IViewObject2", &IID_IViewObject2},
    {"IOleControl", &IID_IOleControl},
    {"ISpecifyPropertyPages", &IID_ISpecifyPropertyPages},
    {"IPropertyPage", &IID_IPropertyPage},
    {"IClassFactory", &IID_IClassFactory},
    {"IPropertyBag", &IID_IPropertyBag},
    {"IErrorLog", &IID_IErrorLog},
    {"ISequentialStream", &IID_ISequentialStream},
    {"IStream", &IID_IStream},
    {"ITypeLib", &IID_ITypeLib},
    {"ITypeInfo", &IID_ITypeInfo},
};

}  // namespace

Check Host::NeedObject() const {
    if (object_) return {};
    return Refuse("no object (use create first)");
}

void Host::Release() {
    // The sinks ocxhost advised go before the object does.
    if (object_ && !cookies_.empty()) {
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(EventPoint(std::addressof(point))))
            for (DWORD cookie : cookies_) point->Unadvise(cookie);
    }
    cookies_.clear();
    storage_.Reset();
    // As a form lets a control go: closed, then its site taken back, then released.
    if (ole_) {
        ole_->Close(OLECLOSE_NOSAVE);
        if (!sitePending_) ole_->SetClientSite(nullptr);
    }
    if (site_) site_->Detach();
    site_.Reset();
    sitePending_ = false;
    dispatch_.Reset();
    persist_.Reset();
    ole_.Reset();
    object_.Reset();
    window_.reset();
    CoFreeUnusedLibraries();
}

void Host::PlaceAfterInit() {
    if (!sitePending_ || !ole_) return;
    sitePending_ = false;
    ole_->SetClientSite(site_.Get());
}

Outcome Host::Help(const std::string&) {
    std::string text = HelpText();
    text.pop_back();  // Print ends the line
    return text;
}

Outcome Host::Create(const std::string& rest) {
    std::string name = FirstWord(rest, nullptr);
    if (name.empty() || name != rest) return Refuse("create needs one PROGID or {CLSID}");
    CLSID clsid;
    if (!name.empty() && name[0] == '{') {
        if (!GuidFromString(name, &clsid)) return Refuse("bad class identity: " + name);
    } else {
        HRESULT hr = CLSIDFromProgIDA(name.c_str(), &clsid);
        if (FAILED(hr)) return Error(hr, TakeErrorInfoText());
    }
    ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  object.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) return Error(hr, TakeErrorInfoText());
    Release();  // the previous object, if any, goes only once the new one is there
    object_ = object;
    clsid_ = clsid;
    object_->QueryInterface(IID_IDispatch, dispatch_.ReleaseAndGetVoidAddress());
    object_->QueryInterface(IID_IPersistStreamInit, persist_.ReleaseAndGetVoidAddress());
    object_->QueryInterface(IID_IOleObject, ole_.ReleaseAndGetVoidAddress());
    if (ole_) {
        site_.Attach(HostSite::New([this](RECT* position) { return ObjectWindow(position); }));
        // An object that asks for its site first gets it before it is initialised.
        DWORD misc = 0;
        if (SUCCEEDED(ole_->GetMiscStatus(DVASPECT_CONTENT, &misc)) &&
            (misc & OLEMISC_SETCLIENTSITEFIRST))
            ole_->SetClientSite(site_.Get());
        else
            sitePending_ = true;
    }
    return std::string("S_OK");
}

Outcome Host::ReleaseCommand(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedObject(); !c) return c.error();
    Release();
    return std::string("S_OK");
}

Outcome Host::Interfaces(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedObject(); !c) return c.error();
    std::string out;
    for (const KnownInterface& known : kKnownInterfaces) {
        void* p = nullptr;
        if (FAILED(object_->QueryInterface(*known.iid, &p)) || !p) continue;
        static_cast<IUnknown*>(p)->Release();
        out += (out.empty() ? "" : "\n") + std::string(known.name);
    }
    return out.empty() ? std::string("no interfaces") : out;
}

// In the order the help lists them.
const Command Host::kCommands[] = {
    {"create", "PROGID|{CLSID}", "create the object (not initialised: initnew or load follows)",
     &Host::Create},
    {"initnew", "", "initialise as new (on a live object: reset it)", &Host::InitNew},
    {"load", "HEX", "initialise from stream bytes in hex (spaces optional)", &Host::Load},
    {"save", "", "save to a stream and print its bytes in hex", &Host::Save},
    {"isdirty", "", "S_OK when changed since the last save or load, else S_FALSE", &Host::IsDirty},
    {"get", "NAME|DISPID", "read a property", &Host::Get},
    {"put", "NAME|DISPID VALUE [VT_I2|VT_I4|VT_R8|VT_BSTR]",
     "write a property; without a type an integer goes as VT_I4 and\n"
     "anything else as VT_BSTR; \"quotes\" keep spaces",
     &Host::Put},
    {"call", "NAME|DISPID", "call a method without arguments", &Host::Call},
    {"members", "", "the object's members from its type information:\nDISPID NAME KIND TYPE",
     &Host::Members},
    {"resources", "PATH", "a module's resources (TYPE ID LANGUAGE SIZE) and version block",
     &Host::Resources},
    {"misc", "", "the miscellaneous status bits, from the registry and from the\nobject",
     &Host::Misc},
    {"verbs", "", "the object's verbs: VERB ATTRIBUTES NAME", &Host::Verbs},
    {"pages", "", "the class identities of the object's property pages", &Host::Pages},
    {"properties", "", "run the properties verb (the property frame)", &Host::Properties},
    {"activate", "",
     "activate the object in place, in a window of ocxhost's own\n(where a display exists)",
     &Host::Activate},
    {"deactivate", "", "deactivate the object in place (its window goes)", &Host::Deactivate},
    {"draw", "FILE [WIDTH HEIGHT]",
     "the object's picture (IViewObject) as a PNG file, its extent's size\nin pixels unless given",
     &Host::Draw},
    {"site", "", "the calls the object made on ocxhost's site since the last\n\"site\", in order",
     &Host::SiteCalls},
    {"about", "", "call the object's AboutBox (DISPID -552)", &Host::About},
    {"interfaces", "", "the interfaces the object answers QueryInterface for, by name",
     &Host::Interfaces},
    {"connpoints", "", "the interface identity of each of the object's connection points",
     &Host::ConnPoints},
    {"advise", "", "connect ocxhost's own sink to the object's event interface;\nprints its cookie",
     &Host::Advise},
    {"unadvise", "COOKIE", "disconnect the sink advised with COOKIE", &Host::Unadvise},
    {"classinfo", "", "the object's coclass name and default source interface", &Host::ClassInfo},
    {"initstorage", "", "initialise as new in a storage of ocxhost's (in memory)",
     &Host::InitStorage},
    {"loadstorage", "HEX", "initialise from a storage whose stream \"Contents\" holds HEX",
     &Host::LoadStorage},
    {"savestorage", "",
     "save into ocxhost's storage (a new one when there is none),\ncomplete the save and print "
     "\"Contents\" in hex",
     &Host::SaveStorage},
    {"handsoff", "", "take the object's storage away (IPersistStorage::HandsOffStorage)",
     &Host::HandsOff},
    {"savecompleted", "", "give the object ocxhost's storage again after a save or handsoff",
     &Host::SaveCompleted},
    {"savememory", "", "save into a memory block of the object's size and print it in hex",
     &Host::SaveMemory},
    {"loadmemory", "HEX", "initialise from a memory block holding HEX", &Host::LoadMemory},
    {"quickactivate", "",
     "give the object ocxhost's site and event sink at once (IQuickActivate);\nprints misc and "
     "view status and the event cookie",
     &Host::QuickActivate},
    {"savebag", "", "save by property name: NAME=VALUE per property, in exchange\norder",
     &Host::SaveBag},
    {"loadbag", "[NAME=VALUE;...]", "load by property name; a property not given takes its default",
     &Host::LoadBag},
    {"release", "", "release the object", &Host::ReleaseCommand},
    {"help", "", "this text", &Host::Help},
    {"quit", "", "end (as does the end of input)", nullptr},
};

std::string Host::HelpText() {
    constexpr std::size_t kColumn = 24;  // where the help starts, after two spaces
    const std::string indent(kColumn + 2, ' ');
    std::string text = kHelpHead;
    for (const Command& c : kCommands) {
        std::string usage = c.name;
        if (*c.arguments) usage += std::string(" ") + c.arguments;
        text += "  " + usage;
        if (usage.size() < kColumn)
            text += std::string(kColumn - usage.size(), ' ');
        else
            text += "\n" + indent;
        for (const char* h = c.help; *h; ++h)
            text += *h == '\n' ? "\n" + indent : std::string(1, *h);
        text += "\n";
    }
    return text + kHelpTail;
}

bool Host::Execute(const std::string& line) {
    std::string rest;
    std::string name = FirstWord(line, &rest);
    if (name.empty() || name[0] == '#') return true;
    if (name == "exit") name = "quit";
    for (const Command& c : kCommands) {
        if (name != c.name) continue;
        if (!c.run) return false;
        SetErrorInfo(0, nullptr);  // what a failure leaves there is this command's
        const Outcome outcome = (this->*c.run)(rest);
        Print(outcome ? *outcome : outcome.message());
        return true;
    }
    Print("error unknown command: " + name);
    return true;
}

}  // namespace ocxhost
