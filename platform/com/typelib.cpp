// ITypeLib and ITypeInfo over a parsed library, and loading libraries from files.
#include "platform/com/typelib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>

#include "platform/com/module_resources.h"
#include "platform/com/oaidl.h"
#include "platform/com/typelib_format.h"

namespace {

using typelib::FuncData;
using typelib::ImportedRef;
using typelib::LibraryData;
using typelib::TypeData;
using typelib::TypeRef;
using typelib::VarData;

// Sets the thread's error object to `text` and answers hr.
HRESULT Fail(HRESULT hr, const std::string& text) {
    SetErrorInfoText(text);
    return hr;
}

// A BSTR of a UTF-8 text; null for an empty optional text.
BSTR Bstr(const std::string& text) {
    std::u16string wide = Utf8ToOle(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}
BSTR OptionalBstr(const std::string& text) { return text.empty() ? nullptr : Bstr(text); }

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

class TypeLibImpl;

class TypeInfoImpl final : public ITypeInfo {
public:
    TypeInfoImpl(TypeLibImpl* lib, UINT index, const LibraryData& data);

    // The type information lives and dies with its library: references count on the library.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) override {
        if (!ppTypeAttr) return E_INVALIDARG;
        *ppTypeAttr = &attr_;
        return S_OK;
    }
    HRESULT GetTypeComp(ITypeComp** ppTComp) override {
        if (ppTComp) *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override {
        if (!ppFuncDesc) return E_INVALIDARG;
        *ppFuncDesc = nullptr;
        if (index >= funcs_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *ppFuncDesc = &funcs_[index];
        return S_OK;
    }
    HRESULT GetVarDesc(UINT index, VARDESC** ppVarDesc) override {
        if (!ppVarDesc) return E_INVALIDARG;
        *ppVarDesc = nullptr;
        if (index >= vars_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *ppVarDesc = &vars_[index];
        return S_OK;
    }
    HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override;
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override {
        if (!pRefType) return E_INVALIDARG;
        if (index >= type_.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = type_.impls[index].type;
        return S_OK;
    }
    HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override {
        if (!pImplTypeFlags) return E_INVALIDARG;
        if (index >= type_.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pImplTypeFlags = type_.impls[index].flags;
        return S_OK;
    }
    HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
    HRESULT Invoke(void*, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR* pBstrDllName, BSTR* pBstrName,
                        WORD* pwOrdinal) override {
        if (pBstrDllName) *pBstrDllName = nullptr;
        if (pBstrName) *pBstrName = nullptr;
        if (pwOrdinal) *pwOrdinal = 0;
        return TYPE_E_BADMODULEKIND;
    }
    HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT CreateInstance(IUnknown*, REFIID, void** ppvObj) override {
        if (ppvObj) *ppvObj = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetMops(MEMBERID, BSTR* pBstrMops) override {
        if (!pBstrMops) return E_INVALIDARG;
        *pBstrMops = nullptr;
        return S_OK;
    }
    HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
    void ReleaseTypeAttr(TYPEATTR*) override {}
    void ReleaseFuncDesc(FUNCDESC*) override {}
    void ReleaseVarDesc(VARDESC*) override {}

    const TypeData& type() const { return type_; }

private:
    TYPEDESC Describe(const TypeRef& t);
    const FuncData* FindFunc(MEMBERID memid) const {
        for (const FuncData& f : type_.funcs)
            if (f.memid == memid) return &f;
        return nullptr;
    }
    const VarData* FindVar(MEMBERID memid) const {
        for (const VarData& v : type_.vars)
            if (v.memid == memid) return &v;
        return nullptr;
    }

    TypeLibImpl* lib_;
    UINT index_;
    const LibraryData& data_;
    const TypeData& type_;
    TYPEATTR attr_{};
    std::vector<FUNCDESC> funcs_;
    std::vector<VARDESC> vars_;
    std::deque<std::vector<ELEMDESC>> params_;  // stable storage for lprgelemdescParam
    std::deque<TYPEDESC> pointees_;             // stable storage for lptdesc chains
    std::deque<VARIANT> values_;                // stable storage for constants' values
};

class TypeLibImpl final : public ITypeLib {
public:
    explicit TypeLibImpl(LibraryData data) : data_(std::move(data)) {
        attr_.guid = data_.guid;
        attr_.lcid = data_.lcid;
        attr_.syskind = data_.syskind;
        attr_.wMajorVerNum = data_.major;
        attr_.wMinorVerNum = data_.minor;
        // A library read from bytes has, by the platform's definition, a disk image.
        attr_.wLibFlags = static_cast<WORD>(data_.flags | LIBFLAG_FHASDISKIMAGE);
        infos_.reserve(data_.types.size());
        for (UINT i = 0; i < data_.types.size(); ++i)
            infos_.push_back(std::make_unique<TypeInfoImpl>(this, i, data_));
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeLib) {
            *ppv = static_cast<ITypeLib*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    UINT GetTypeInfoCount() override { return static_cast<UINT>(infos_.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *ppTInfo = infos_[index].get();
        AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) override {
        if (!pTKind) return E_INVALIDARG;
        if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pTKind = data_.types[index].kind;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override {
        if (!ppTinfo) return E_INVALIDARG;
        *ppTinfo = nullptr;
        for (UINT i = 0; i < data_.types.size(); ++i)
            if (data_.types[i].guid == guid) return GetTypeInfo(i, ppTinfo);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) override {
        if (!ppTLibAttr) return E_INVALIDARG;
        *ppTLibAttr = &attr_;
        return S_OK;
    }
    HRESULT GetTypeComp(ITypeComp** ppTComp) override {
        if (ppTComp) *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override {
        if (index < -1 || (index >= 0 && static_cast<std::size_t>(index) >= infos_.size()))
            return TYPE_E_ELEMENTNOTFOUND;
        if (index >= 0)
            return infos_[index]->GetDocumentation(MEMBERID_NIL, pBstrName, pBstrDocString,
                                                   pdwHelpContext, pBstrHelpFile);
        if (pBstrName) *pBstrName = Bstr(data_.name);
        if (pBstrDocString) *pBstrDocString = OptionalBstr(data_.doc);
        if (pdwHelpContext) *pdwHelpContext = data_.helpContext;
        if (pBstrHelpFile) *pBstrHelpFile = OptionalBstr(data_.helpFile);
        return S_OK;
    }
    HRESULT IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) override {
        if (!szNameBuf || !pfName) return E_INVALIDARG;
        const std::string wanted = OleToUtf8(szNameBuf);
        const std::string* match = nullptr;
        ForEachName([&](const std::string& name, UINT, MEMBERID) {
            if (!match && SameName(name, wanted)) match = &name;
        });
        *pfName = match ? TRUE : FALSE;
        // The caller's buffer takes the library's spelling (same length: the names are ASCII
        // when they compare equal without regard to case).
        if (match) {
            std::u16string spelled = Utf8ToOle(*match);
            std::memcpy(szNameBuf, spelled.data(), spelled.size() * sizeof(OLECHAR));
        }
        return S_OK;
    }
    HRESULT FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                     USHORT* pcFound) override {
        if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound) return E_INVALIDARG;
        const std::string wanted = OleToUtf8(szNameBuf);
        USHORT found = 0;
        ForEachName([&](const std::string& name, UINT type, MEMBERID memid) {
            if (found < *pcFound && SameName(name, wanted)) {
                ppTInfo[found] = infos_[type].get();
                AddRef();
                rgMemId[found] = memid;
                ++found;
            }
        });
        *pcFound = found;
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR*) override {}

    ITypeInfo* Info(UINT index) { return infos_[index].get(); }
    const LibraryData& data() const { return data_; }
    // The library an imported type comes from, loaded on first use.
    HRESULT ImportedLibrary(std::uint32_t import, ITypeLib** pptlib);

private:
    // Type names (member id MEMBERID_NIL) and member names, in library order.
    template <typename F>
    void ForEachName(F&& f) const {
        for (UINT i = 0; i < data_.types.size(); ++i) {
            const TypeData& t = data_.types[i];
            f(t.name, i, MEMBERID_NIL);
            for (const FuncData& fn : t.funcs) f(fn.name, i, fn.memid);
            for (const VarData& v : t.vars) f(v.name, i, v.memid);
        }
    }

    std::atomic<ULONG> refs_{1};
    LibraryData data_;
    TLIBATTR attr_{};
    std::vector<std::unique_ptr<TypeInfoImpl>> infos_;
    std::map<std::uint32_t, ITypeLib*> imported_;  // owned references
public:
    ~TypeLibImpl() {
        for (auto& [index, lib] : imported_) lib->Release();
    }
};

TypeInfoImpl::TypeInfoImpl(TypeLibImpl* lib, UINT index, const LibraryData& data)
    : lib_(lib), index_(index), data_(data), type_(data.types[index]) {
    attr_.guid = type_.guid;
    attr_.lcid = data.lcid;
    attr_.memidConstructor = MEMBERID_NIL;
    attr_.memidDestructor = MEMBERID_NIL;
    attr_.typekind = type_.kind;
    attr_.cFuncs = static_cast<WORD>(type_.funcs.size());
    attr_.cVars = static_cast<WORD>(type_.vars.size());
    attr_.cImplTypes = static_cast<WORD>(type_.impls.size());
    attr_.cbSizeInstance = type_.size;
    attr_.cbAlignment = type_.alignment;
    // Interfaces and classes are reached through a pointer, whatever module they were made for.
    if (type_.kind == TKIND_INTERFACE || type_.kind == TKIND_DISPATCH ||
        type_.kind == TKIND_COCLASS) {
        attr_.cbSizeInstance = sizeof(void*);
        attr_.cbAlignment = alignof(void*);
    }
    attr_.cbSizeVft = type_.vtableSize;
    // A dispinterface is reached through IDispatch's seven methods.
    if (type_.kind == TKIND_DISPATCH) attr_.cbSizeVft = 7 * sizeof(void*);
    if (type_.kind == TKIND_ALIAS) attr_.tdescAlias = Describe(type_.alias);
    attr_.wTypeFlags = type_.flags;
    attr_.wMajorVerNum = type_.major;
    attr_.wMinorVerNum = type_.minor;

    funcs_.reserve(type_.funcs.size());
    for (const FuncData& f : type_.funcs) {
        FUNCDESC d{};
        d.memid = f.memid;
        d.funckind = f.funckind;
        d.invkind = f.invkind;
        d.callconv = f.callconv;
        d.cParams = static_cast<SHORT>(f.params.size());
        for (const auto& p : f.params)
            if (p.flags & PARAMFLAG_FOPT) ++d.cParamsOpt;
        d.elemdescFunc.tdesc = Describe(f.ret);
        d.wFuncFlags = f.flags;
        // Table offsets in the library are for its own pointer size; this process has its own.
        if (f.funckind != FUNC_DISPATCH)
            d.oVft = static_cast<SHORT>((static_cast<USHORT>(f.vtableOffset) & ~1u) *
                                        sizeof(void*) / (data.syskind == SYS_WIN64 ? 8 : 4));
        if (!f.params.empty()) {
            std::vector<ELEMDESC>& elems = params_.emplace_back(f.params.size());
            for (std::size_t i = 0; i < f.params.size(); ++i) {
                elems[i] = ELEMDESC{};
                elems[i].tdesc = Describe(f.params[i].type);
                elems[i].paramdesc.wParamFlags = f.params[i].flags;
            }
            d.lprgelemdescParam = elems.data();
        }
        funcs_.push_back(d);
    }
    vars_.reserve(type_.vars.size());
    for (const VarData& v : type_.vars) {
        VARDESC d{};
        d.memid = v.memid;
        d.varkind = v.varkind;
        d.wVarFlags = v.flags;
        d.elemdescVar.tdesc = Describe(v.type);
        if (v.varkind == VAR_CONST) {
            VARIANT& value = values_.emplace_back();
            VariantInit(&value);
            value.vt = v.constVt;
            value.lVal = v.value;
            d.lpvarValue = &value;
        } else {
            d.oInst = static_cast<ULONG>(v.value);
        }
        vars_.push_back(d);
    }
}

TYPEDESC TypeInfoImpl::Describe(const TypeRef& t) {
    TYPEDESC d{};
    d.vt = t.vt;
    if (!t.pointee.empty()) {
        pointees_.push_back(Describe(t.pointee[0]));
        d.lptdesc = &pointees_.back();
    } else if (t.vt == VT_USERDEFINED) {
        d.hreftype = t.hreftype;
    }
    return d;
}

HRESULT TypeInfoImpl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
        *ppv = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}
ULONG TypeInfoImpl::AddRef() { return lib_->AddRef(); }
ULONG TypeInfoImpl::Release() { return lib_->Release(); }

HRESULT TypeInfoImpl::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
    if (!pcNames || (cMaxNames > 0 && !rgBstrNames)) return E_INVALIDARG;
    *pcNames = 0;
    std::vector<const std::string*> names;
    if (const FuncData* f = FindFunc(memid)) {
        names.push_back(&f->name);
        for (const auto& p : f->params) names.push_back(&p.name);
    } else if (const VarData* v = FindVar(memid)) {
        names.push_back(&v->name);
    } else {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    UINT n = 0;
    // A parameter the library leaves unnamed has a null name.
    for (; n < names.size() && n < cMaxNames; ++n) rgBstrNames[n] = OptionalBstr(*names[n]);
    *pcNames = n;
    return S_OK;
}

HRESULT TypeInfoImpl::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
    if (!rgszNames || !pMemId || cNames == 0) return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i) pMemId[i] = MEMBERID_NIL;
    if (!rgszNames[0]) return DISP_E_UNKNOWNNAME;
    const std::string member = OleToUtf8(rgszNames[0]);
    const FuncData* func = nullptr;
    bool found = false;
    for (const FuncData& f : type_.funcs) {
        if (SameName(f.name, member)) {
            func = &f;
            pMemId[0] = f.memid;
            found = true;
            break;
        }
    }
    if (!found) {
        for (const VarData& v : type_.vars) {
            if (SameName(v.name, member)) {
                pMemId[0] = v.memid;
                found = true;
                break;
            }
        }
    }
    if (!found) return DISP_E_UNKNOWNNAME;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < cNames; ++i) {
        const std::string param = rgszNames[i] ? OleToUtf8(rgszNames[i]) : std::string();
        bool known = false;
        if (func) {
            for (std::size_t k = 0; k < func->params.size(); ++k) {
                if (SameName(func->params[k].name, param)) {
                    pMemId[i] = static_cast<MEMBERID>(k);
                    known = true;
                    break;
                }
            }
        }
        if (!known) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT TypeInfoImpl::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                       DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
    const std::string* name;
    const std::string* doc;
    DWORD context;
    if (memid == MEMBERID_NIL) {
        name = &type_.name;
        doc = &type_.doc;
        context = type_.helpContext;
    } else if (const FuncData* f = FindFunc(memid)) {
        name = &f->name;
        doc = &f->doc;
        context = f->helpContext;
    } else if (const VarData* v = FindVar(memid)) {
        name = &v->name;
        doc = &v->doc;
        context = v->helpContext;
    } else {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    if (pBstrName) *pBstrName = Bstr(*name);
    if (pBstrDocString) *pBstrDocString = OptionalBstr(*doc);
    if (pdwHelpContext) *pdwHelpContext = context;
    if (pBstrHelpFile) *pBstrHelpFile = OptionalBstr(data_.helpFile);
    return S_OK;
}

HRESULT TypeInfoImpl::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (typelib::IsImportedHref(hRefType)) {
        const std::size_t index = (hRefType - 1) / 12;
        if (index >= data_.refs.size()) return TYPE_E_ELEMENTNOTFOUND;
        const ImportedRef& ref = data_.refs[index];
        ITypeLib* other = nullptr;
        HRESULT hr = lib_->ImportedLibrary(ref.import, &other);
        if (FAILED(hr)) return hr;
        hr = other->GetTypeInfoOfGuid(ref.guid, ppTInfo);
        other->Release();
        return hr;
    }
    if (hRefType % typelib::kTypeInfoRecordSize != 0 ||
        hRefType / typelib::kTypeInfoRecordSize >= data_.types.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *ppTInfo = lib_->Info(hRefType / typelib::kTypeInfoRecordSize);
    lib_->AddRef();
    return S_OK;
}

// The standard automation library as far as libraries refer to it: its IUnknown and IDispatch.
// A registered copy, where there is one, comes first.
LibraryData StandardOleLibrary(const typelib::ImportData& imp) {
    LibraryData lib;
    lib.guid = typelib::kStdOleGuid;
    lib.major = imp.major;
    lib.minor = imp.minor;
    lib.name = "stdole";
    lib.doc = "OLE Automation";
    TypeData unknown;
    unknown.kind = TKIND_INTERFACE;
    unknown.guid = typelib::kIUnknownGuid;
    unknown.name = "IUnknown";
    unknown.flags = TYPEFLAG_FHIDDEN;
    unknown.vtableSize = 3 * 4;
    TypeData dispatch;
    dispatch.kind = TKIND_INTERFACE;
    dispatch.guid = typelib::kIDispatchGuid;
    dispatch.name = "IDispatch";
    dispatch.vtableSize = 4 * 4;
    dispatch.impls.push_back({typelib::LocalHref(0), 0});
    lib.types.push_back(std::move(unknown));
    lib.types.push_back(std::move(dispatch));
    return lib;
}

HRESULT TypeLibImpl::ImportedLibrary(std::uint32_t import, ITypeLib** pptlib) {
    *pptlib = nullptr;
    if (import >= data_.imports.size()) return TYPE_E_ELEMENTNOTFOUND;
    auto found = imported_.find(import);
    if (found == imported_.end()) {
        const typelib::ImportData& imp = data_.imports[import];
        ITypeLib* lib = nullptr;
        HRESULT hr = LoadRegTypeLib(imp.guid, imp.major, imp.minor, imp.lcid, &lib);
        if (FAILED(hr)) {
            if (imp.guid != typelib::kStdOleGuid) return hr;
            lib = new TypeLibImpl(StandardOleLibrary(imp));
        }
        found = imported_.emplace(import, lib).first;
    }
    *pptlib = found->second;
    (*pptlib)->AddRef();
    return S_OK;
}

HRESULT TypeInfoImpl::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
    if (!ppTLib && !pIndex) return E_INVALIDARG;
    if (ppTLib) {
        *ppTLib = lib_;
        lib_->AddRef();
    }
    if (pIndex) *pIndex = index_;
    return S_OK;
}

// A bare type-library file is read whole; no library of ours comes near this size.
constexpr std::size_t kMaxBareFileSize = 64u << 20;

// The file's bytes when it is a bare type library; no bytes when it is something else.
base::Result<std::optional<std::string>> ReadBareLibrary(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO never blocks
    if (fd < 0) return base::Fail(path + ": " + std::strerror(errno));
    struct stat st;
    base::Result<std::optional<std::string>> read = std::optional<std::string>();
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        read = base::Fail(path + ": not a regular file");
    } else if (st.st_size >= static_cast<off_t>(typelib::kTypeLibMagicSize)) {
        char magic[typelib::kTypeLibMagicSize];
        ssize_t got = ::pread(fd, magic, sizeof magic, 0);
        if (got == static_cast<ssize_t>(sizeof magic) &&
            std::memcmp(magic, typelib::kTypeLibMagic, sizeof magic) == 0) {
            if (static_cast<std::uint64_t>(st.st_size) > kMaxBareFileSize) {
                read = base::Fail(path + ": type library file too large");
            } else {
                std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
                std::size_t done = 0;
                bool ok = true;
                while (ok && done < bytes.size()) {
                    ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done,
                                        static_cast<off_t>(done));
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0)
                        ok = false;
                    else
                        done += static_cast<std::size_t>(n);
                }
                if (ok)
                    read = std::optional<std::string>(std::move(bytes));
                else
                    read = base::Fail(path + ": read failed");
            }
        } else if (got < 0) {
            read = base::Fail(path + ": " + std::strerror(errno));
        }
    }
    ::close(fd);
    return read;
}

HRESULT LoadFromBytes(const std::string& bytes, const std::string& where, ITypeLib** pptlib) {
    auto parsed = typelib::ParseTypeLibrary(bytes);
    if (!parsed) {
        const std::string& error = parsed.message();
        const bool unsupported = error.rfind("unsupported", 0) == 0;
        return Fail(unsupported ? TYPE_E_UNSUPFORMAT : TYPE_E_INVDATAREAD,
                    where.empty() ? error : where + ": " + error);
    }
    *pptlib = new TypeLibImpl(std::move(*parsed));
    return S_OK;
}

}  // namespace

HRESULT LoadTypeLibFromMemory(const std::string& bytes, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    return LoadFromBytes(bytes, "", pptlib);
}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    if (!szFile || !*szFile) return Fail(E_INVALIDARG, "no file name");
    const std::string path = OleToUtf8(szFile);
    auto bare = ReadBareLibrary(path);
    if (!bare) return Fail(TYPE_E_CANTLOADLIBRARY, bare.message());
    std::string bytes;
    if (*bare) {
        bytes = std::move(**bare);
    } else {
        auto found = FindModuleResource(path, ResourceType::TypeLib, 1);
        if (!found) return Fail(TYPE_E_CANTLOADLIBRARY, found.message());
        bytes = std::move(*found);
    }
    return LoadFromBytes(bytes, path, pptlib);
}
