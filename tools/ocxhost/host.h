// ocxhost's host: one object at a time, created through the class registry and placed as a form
// host places a control (its client site set first when it asks for that, else once it is
// initialised), driven by one command a line. The command table (host.cpp) gives both the
// dispatch and the --help text; each family of commands has its own file: automation.cpp,
// persistence.cpp, embedding.cpp, connection_points.cpp, resources.cpp; the site is site.cpp,
// ocxhost's own window host_window*.cpp.
#pragma once

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/combase.h"
#include "platform/com/objidl.h"
#include "platform/com/ocidl.h"
#include "platform/com/oleauto.h"
#include "platform/com/oleidl.h"
#include "tools/ocxhost/host_window.h"
#include "tools/ocxhost/site.h"

namespace ocxhost {

// What a command prints: its result, or (as the error's message) a line starting "error".
using Outcome = base::Result<std::string>;
// A check before a command runs: nothing, or the error line to print instead.
using Check = base::Result<>;

// Command words and their values (words.cpp).
std::string Trim(const std::string& s);
// Splits off the first word of `s`; the rest (trimmed) goes to *rest.
std::string FirstWord(const std::string& s, std::string* rest);
bool ParseInt32(const std::string& s, LONG* value);
bool ParseUInt32(const std::string& s, DWORD* value);
// Bytes as two hex digits each, separated by spaces; and back (spaces optional).
std::string Hex(const std::string& bytes);
bool ParseHex(const std::string& text, std::string* bytes);
// The error line of a failed call ("error 0x80004002: why"; without `why`, the text the call left
// in the thread's error object, if any), and of a command refused.
base::Error Error(HRESULT hr, const std::string& why = {});
base::Error Refuse(const std::string& why);

// ocxhost's own event sink: it speaks IDispatch and prints each event it is sent.
class HostSink final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    // Lives as long as the host: the count is kept for form's sake only.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        std::cout << "event " << id << '\n' << std::flush;
        return S_OK;
    }
};

class Host;

// One command of the session: its name, its arguments and its help (continuation lines after
// '\n'), and what runs it. The table gives both the dispatch and the help text.
struct Command {
    const char* name;
    const char* arguments;
    const char* help;
    Outcome (Host::*run)(const std::string& rest);  // null for quit
};

class Host {
public:
    ~Host() { Release(); }

    // Runs one command line; false when the host should end.
    bool Execute(const std::string& line);
    static std::string HelpText();

private:
    static const Command kCommands[];

    static void Print(const std::string& text) { std::cout << text << '\n' << std::flush; }

    static Check NoArguments(const std::string& rest) {
        if (rest.empty()) return {};
        return Refuse("unexpected arguments: " + rest);
    }

    // The object and its lifetime, and what it answers QueryInterface for (host.cpp).
    Check NeedObject() const;
    // Closes the object, takes its site back and releases it.
    void Release();
    // Gives the object its site once it is initialised, unless it had it before (host.cpp).
    void PlaceAfterInit();
    Outcome Help(const std::string&);
    Outcome Create(const std::string& rest);
    Outcome ReleaseCommand(const std::string& rest);
    Outcome Interfaces(const std::string& rest);

    // Automation: properties, methods and type information through IDispatch (automation.cpp).
    Check NeedDispatch() const;
    // A member by DISPID (a decimal number) or by name through GetIDsOfNames.
    HRESULT Resolve(const std::string& member, DISPID* id);
    static base::Error UnknownMember(HRESULT hr, const std::string& member);
    Check Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);
    Outcome Get(const std::string& rest);
    Outcome Put(const std::string& rest);
    Outcome Call(const std::string& rest);
    Outcome About(const std::string& rest);
    static std::string MemberName(ITypeInfo* info, MEMBERID id);
    Outcome Members(const std::string& rest);

    // Persistence: stream bytes and property bags (persistence.cpp).
    Check NeedPersist() const;
    Outcome InitNew(const std::string& rest);
    Outcome Load(const std::string& rest);
    Outcome Save(const std::string& rest);
    Outcome IsDirty(const std::string& rest);
    Check NeedBag(ComPtr<IPersistPropertyBag>* bag) const;
    Outcome SaveBag(const std::string& rest);
    Outcome LoadBag(const std::string& rest);
    // In a storage of ocxhost's (in memory, the object's bytes in its stream "Contents") and in a
    // memory block (persistence.cpp).
    Check NeedStorage(ComPtr<IPersistStorage>* persist) const;
    Outcome InitStorage(const std::string& rest);
    Outcome LoadStorage(const std::string& rest);
    Outcome SaveStorage(const std::string& rest);
    Outcome HandsOff(const std::string& rest);
    Outcome SaveCompleted(const std::string& rest);
    Check NeedMemory(ComPtr<IPersistMemory>* persist) const;
    Outcome SaveMemory(const std::string& rest);
    Outcome LoadMemory(const std::string& rest);

    // Embedding: the status bits, verbs and property pages a form asks for, the properties verb
    // and in-place activation in ocxhost's window (embedding.cpp).
    static std::string StatusLine(const char* source, DWORD value);
    // CLSID\{...}\MiscStatus: the content aspect's own subkey "1", else the default value.
    bool RegistryMiscStatus(DWORD* status) const;
    Outcome Misc(const std::string& rest);
    Check NeedOleObject() const;
    Outcome Verbs(const std::string& rest);
    Outcome Pages(const std::string& rest);
    Outcome Properties(const std::string& rest);
    Outcome Activate(const std::string& rest);
    Outcome Deactivate(const std::string& rest);
    Outcome SiteCalls(const std::string& rest);
    // IQuickActivate: ocxhost's site and event sink at once; prints the control's answer.
    Outcome QuickActivate(const std::string& rest);
    Outcome Draw(const std::string& rest);
    // ocxhost's window for the object and the object's rectangle in it (its extent in pixels);
    // null when there is none.
    HWND ObjectWindow(RECT* position) const;

    // Connection points: events and the class information that names them
    // (connection_points.cpp).
    // The connection point a host advises: the default source interface's, else the first one.
    HRESULT EventPoint(ComPtr<IConnectionPoint>* point) const;
    Outcome ConnPoints(const std::string& rest);
    Outcome Advise(const std::string& rest);
    Outcome Unadvise(const std::string& rest);
    Outcome ClassInfo(const std::string& rest);

    // A module's resources, read from its file (resources.cpp).
    Outcome Resources(const std::string& path);

    ComPtr<IUnknown> object_;
    ComPtr<IDispatch> dispatch_;
    ComPtr<IPersistStreamInit> persist_;
    ComPtr<IOleObject> ole_;
    bool sitePending_ = false;  // the site goes to the object once it is initialised
    ComPtr<HostSite> site_;
    std::unique_ptr<HostWindow> window_;
    CLSID clsid_ = GUID_NULL;
    HostSink sink_;
    std::vector<DWORD> cookies_;  // what ocxhost advised on the object
    // The storage the object was given (initstorage, loadstorage) or last saved into.
    ComPtr<IStorage> storage_;
};

}  // namespace ocxhost
