// ITypeLib and ITypeInfo over a parsed library (typelib_objects.h).
#include "platform/com/typelib_objects.h"

#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/single_unknown.h"
#include "platform/com/typelib.h"
#include "platform/com/utf.h"

namespace {

using typelib::FuncData;
using typelib::ImportedRef;
using typelib::LibraryData;
using typelib::TypeData;
using typelib::TypeRef;
using typelib::VarData;

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

// What GetRefTypeOfImplType(-1) names on either view of a dual interface: its other view.
constexpr HREFTYPE kOtherViewHref = 0xFFFFFFFE;
// Set on a reference to a dual interface that names its vtable view.
constexpr HREFTYPE kVtableViewFlag = 0x40000000;
// How many interfaces a dual interface's vtable view may derive from, IUnknown included.
constexpr int kMaxBaseDepth = 16;
// How deeply the loading of one library may load others to find what its dual interfaces derive
// from (libraries that import one another).
constexpr int kMaxLoadDepth = 4;
thread_local int t_loadDepth = 0;

// A type as ITypeInfo shows it. A dual interface has two: its dispatch view (the one its library
// lists) and its vtable view, each the other's GetRefTypeOfImplType(-1).
enum class View { kPlain, kDualDispatch, kDualVtable };

class TypeInfoImpl final : public ITypeInfo {
public:
    TypeInfoImpl(TypeLibImpl* lib, UINT index, const LibraryData& data, View view = View::kPlain);

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
        if (index == static_cast<UINT>(-1) && other_) {
            *pRefType = kOtherViewHref;
            return S_OK;
        }
        if (index >= impls_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = impls_[index].type;
        // An interface derives from a dual interface's vtable view, not from its dispatch view.
        if (attr_.typekind == TKIND_INTERFACE && NamesDual(*pRefType)) *pRefType |= kVtableViewFlag;
        return S_OK;
    }
    HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override {
        if (!pImplTypeFlags) return E_INVALIDARG;
        if (index >= impls_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pImplTypeFlags = impls_[index].flags;
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
    // Makes the two views of a dual interface each other's other view.
    void PairWith(TypeInfoImpl* other) { other_ = other; }
    // A dual interface's dispatch view: puts the functions of every interface its vtable view
    // derives from (IUnknown's and IDispatch's at least) before its own. Where one of them cannot
    // be found, the view keeps its own functions only.
    void InheritFunctions();

private:
    // A function the dispatch view of a dual interface takes from an interface it derives from;
    // that interface answers for its names and documentation.
    struct Inherited {
        ITypeInfo* owner;
        MEMBERID memid;
    };
    // A type an inherited function refers to, resolved by the interface it comes from.
    struct Foreign {
        ITypeInfo* owner;
        HREFTYPE href;
    };
    static constexpr HREFTYPE ForeignHref(std::size_t index) {
        return static_cast<HREFTYPE>(index << 2 | 2);
    }
    static constexpr bool IsForeignHref(HREFTYPE href) { return (href & 3) == 2; }
    // Whether a type this library refers to is a dual interface as its library lists it (a
    // dispinterface of another library may be one).
    bool NamesDual(HREFTYPE href) const;

    TYPEDESC Describe(const TypeRef& t);
    // A copy of another type information's type, its user-defined types made foreign references.
    bool CopyType(const TYPEDESC& from, ITypeInfo* owner, int depth, TYPEDESC* to);
    // A function as a dual interface's dispatch view shows it: dispatched, and its return value
    // the last parameter where that is one ([out, retval]), else nothing in place of an HRESULT.
    static void AsDispatched(FUNCDESC* d);
    // The interface an inherited member comes from, or null.
    ITypeInfo* InheritedOwner(MEMBERID memid) const {
        for (const Inherited& i : inherited_)
            if (i.memid == memid) return i.owner;
        return nullptr;
    }
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
    View view_;
    TypeInfoImpl* other_ = nullptr;  // a dual interface's other view (same library)
    std::vector<typelib::ImplData> impls_;
    std::vector<Inherited> inherited_;  // the first entries of funcs_, in order
    std::vector<ITypeInfo*> bases_;     // the interfaces inherited_ comes from, nearest first
    std::vector<Foreign> foreign_;
    // References held on the interfaces of other libraries that inherited_ and foreign_ name.
    std::vector<ComPtr<ITypeInfo>> held_;
    TYPEATTR attr_{};
    std::vector<FUNCDESC> funcs_;
    std::vector<VARDESC> vars_;
    std::deque<std::vector<ELEMDESC>> params_;  // stable storage for lprgelemdescParam
    std::deque<TYPEDESC> pointees_;             // stable storage for lptdesc chains
    std::deque<VARIANT> values_;                // stable storage for constants' values
};

class TypeLibImpl final : public com::SingleUnknown<ITypeLib, IID_ITypeLib> {
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
        for (UINT i = 0; i < data_.types.size(); ++i) {
            if (!typelib::IsDual(data_.types[i])) {
                infos_.push_back(std::make_unique<TypeInfoImpl>(this, i, data_));
                continue;
            }
            auto dispatch = std::make_unique<TypeInfoImpl>(this, i, data_, View::kDualDispatch);
            auto vtable = std::make_unique<TypeInfoImpl>(this, i, data_, View::kDualVtable);
            dispatch->PairWith(vtable.get());
            vtable->PairWith(dispatch.get());
            infos_.push_back(std::move(dispatch));
            vtables_.push_back(std::move(vtable));
        }
        // Every view stands before any dispatch view looks at the interfaces it derives from.
        // Looking for them is no failure of the load: the thread's error object stays as it was.
        if (!vtables_.empty() && t_loadDepth < kMaxLoadDepth) {
            ComPtr<IErrorInfo> kept;
            GetErrorInfo(0, &kept);
            ++t_loadDepth;
            for (UINT i = 0; i < data_.types.size(); ++i)
                if (typelib::IsDual(data_.types[i])) infos_[i]->InheritFunctions();
            --t_loadDepth;
            SetErrorInfo(0, kept.Get());
        }
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

    LibraryData data_;
    TLIBATTR attr_{};
    std::map<std::uint32_t, ITypeLib*> imported_;  // owned references
    std::vector<std::unique_ptr<TypeInfoImpl>> infos_;
    std::vector<std::unique_ptr<TypeInfoImpl>> vtables_;  // the vtable views of dual interfaces
public:
    ~TypeLibImpl() {
        for (auto& [index, lib] : imported_) lib->Release();
    }
};

TypeInfoImpl::TypeInfoImpl(TypeLibImpl* lib, UINT index, const LibraryData& data, View view)
    : lib_(lib), index_(index), data_(data), type_(data.types[index]), view_(view) {
    impls_ = type_.impls;
    if (view_ == View::kDualVtable) impls_ = {{type_.dualBase, 0}};
    // Vtable sizes and offsets are kept as a 32-bit table lays them out; this process has its own
    // pointer size.
    const std::size_t libraryPointer = 4;
    attr_.guid = type_.guid;
    attr_.lcid = data.lcid;
    attr_.memidConstructor = MEMBERID_NIL;
    attr_.memidDestructor = MEMBERID_NIL;
    attr_.typekind = view_ == View::kDualVtable ? TKIND_INTERFACE : type_.kind;
    attr_.cFuncs = static_cast<WORD>(type_.funcs.size());
    attr_.cVars = static_cast<WORD>(type_.vars.size());
    attr_.cImplTypes = static_cast<WORD>(impls_.size());
    attr_.cbSizeInstance = type_.size;
    attr_.cbAlignment = type_.alignment;
    // Interfaces and classes are reached through a pointer, whatever module they were made for.
    if (type_.kind == TKIND_INTERFACE || type_.kind == TKIND_DISPATCH ||
        type_.kind == TKIND_COCLASS) {
        attr_.cbSizeInstance = sizeof(void*);
        attr_.cbAlignment = alignof(void*);
    }
    attr_.cbSizeVft = static_cast<WORD>(type_.vtableSize * sizeof(void*) / libraryPointer);
    attr_.wTypeFlags = type_.flags;
    // A dispinterface is reached through IDispatch's seven methods, never through a vtable of
    // its own.
    if (attr_.typekind == TKIND_DISPATCH) {
        attr_.cbSizeVft = 7 * sizeof(void*);
        attr_.wTypeFlags &= static_cast<WORD>(~TYPEFLAG_FOLEAUTOMATION);
    }
    if (type_.kind == TKIND_ALIAS) attr_.tdescAlias = Describe(type_.alias);
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
        if (f.funckind != FUNC_DISPATCH)
            d.oVft = static_cast<SHORT>((static_cast<USHORT>(f.vtableOffset) & ~1u) *
                                        sizeof(void*) / libraryPointer);
        if (!f.params.empty()) {
            std::vector<ELEMDESC>& elems = params_.emplace_back(f.params.size());
            for (std::size_t i = 0; i < f.params.size(); ++i) {
                elems[i] = ELEMDESC{};
                elems[i].tdesc = Describe(f.params[i].type);
                elems[i].paramdesc.wParamFlags = f.params[i].flags;
            }
            d.lprgelemdescParam = elems.data();
        }
        if (view_ == View::kDualDispatch) AsDispatched(&d);
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

bool TypeInfoImpl::CopyType(const TYPEDESC& from, ITypeInfo* owner, int depth, TYPEDESC* to) {
    *to = TYPEDESC{};
    to->vt = from.vt;
    if (from.vt == VT_PTR || from.vt == VT_SAFEARRAY) {
        TYPEDESC inner;
        if (!from.lptdesc || depth >= typelib::kMaxTypeDepth ||
            !CopyType(*from.lptdesc, owner, depth + 1, &inner))
            return false;
        pointees_.push_back(inner);
        to->lptdesc = &pointees_.back();
    } else if (from.vt == VT_USERDEFINED) {
        to->hreftype = ForeignHref(foreign_.size());
        foreign_.push_back({owner, from.hreftype});
    } else if (from.vt == VT_CARRAY) {
        return false;  // arrays of fixed size are not represented
    }
    return true;
}

void TypeInfoImpl::AsDispatched(FUNCDESC* d) {
    d->funckind = FUNC_DISPATCH;
    ELEMDESC* last = d->cParams > 0 ? &d->lprgelemdescParam[d->cParams - 1] : nullptr;
    if (last && (last->paramdesc.wParamFlags & PARAMFLAG_FRETVAL) && last->tdesc.vt == VT_PTR &&
        last->tdesc.lptdesc) {
        d->elemdescFunc.tdesc = *last->tdesc.lptdesc;
        --d->cParams;
    } else if (d->elemdescFunc.tdesc.vt == VT_HRESULT) {
        // An HRESULT reaches a dispatch caller as the exception's code, never as a value.
        d->elemdescFunc.tdesc.vt = VT_VOID;
    }
}

void TypeInfoImpl::InheritFunctions() {
    // The interfaces the vtable view derives from, nearest first, as vtable views (whose
    // functions are taken) and as the views that name their members (a dual interface's dispatch
    // view, which leaves return values out of the parameter names).
    struct Base {
        ComPtr<ITypeInfo> vtable, names;
    };
    std::vector<Base> chain;
    ITypeInfo* current = other_;
    for (int depth = 0;; ++depth) {
        if (depth == kMaxBaseDepth) return;
        TYPEATTR* attr = nullptr;
        if (FAILED(current->GetTypeAttr(&attr))) return;
        const WORD impls = attr->cImplTypes;
        current->ReleaseTypeAttr(attr);
        if (impls == 0) break;
        HREFTYPE ref = 0;
        Base base;
        if (FAILED(current->GetRefTypeOfImplType(0, &ref)) ||
            FAILED(current->GetRefTypeInfo(ref, &base.vtable)))
            return;
        if (FAILED(base.vtable->GetTypeAttr(&attr))) return;
        const TYPEKIND kind = attr->typekind;
        const bool dual = (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
        base.vtable->ReleaseTypeAttr(attr);
        if (kind != TKIND_INTERFACE) return;
        base.names = base.vtable;
        if (dual && (FAILED(base.vtable->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) ||
                     FAILED(base.vtable->GetRefTypeInfo(ref, &base.names))))
            return;
        current = base.vtable.Get();
        chain.push_back(std::move(base));
    }

    std::vector<FUNCDESC> funcs;
    std::vector<Inherited> inherited;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        ITypeInfo* base = it->vtable.Get();
        TYPEATTR* attr = nullptr;
        if (FAILED(base->GetTypeAttr(&attr))) return;
        const WORD count = attr->cFuncs;
        base->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < count; ++i) {
            FUNCDESC* from = nullptr;
            if (FAILED(base->GetFuncDesc(i, &from))) return;
            FUNCDESC d = *from;
            bool copied = CopyType(from->elemdescFunc.tdesc, base, 0, &d.elemdescFunc.tdesc);
            d.lprgelemdescParam = nullptr;
            if (copied && d.cParams > 0) {
                std::vector<ELEMDESC>& elems =
                    params_.emplace_back(static_cast<std::size_t>(d.cParams));
                for (SHORT p = 0; copied && p < d.cParams; ++p) {
                    elems[p] = from->lprgelemdescParam[p];
                    copied = CopyType(from->lprgelemdescParam[p].tdesc, base, 0, &elems[p].tdesc);
                }
                d.lprgelemdescParam = elems.data();
            }
            base->ReleaseFuncDesc(from);
            if (!copied || d.cParams < 0) return;
            AsDispatched(&d);
            funcs.push_back(d);
            inherited.push_back({it->names.Get(), d.memid});
        }
    }

    // Views of this library live as long as it does; those of others are held.
    for (const Base& base : chain) {
        ComPtr<ITypeLib> owner;
        UINT index = 0;
        if (FAILED(base.vtable->GetContainingTypeLib(&owner, &index)) ||
            owner.Get() != static_cast<ITypeLib*>(lib_)) {
            held_.push_back(base.vtable);
            held_.push_back(base.names);
        }
        bases_.push_back(base.names.Get());
    }
    inherited_ = std::move(inherited);
    funcs.insert(funcs.end(), funcs_.begin(), funcs_.end());
    funcs_ = std::move(funcs);
    attr_.cFuncs = static_cast<WORD>(funcs_.size());
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
        // A dispatch caller gets a return value as the result, not as a parameter.
        for (const auto& p : f->params)
            if (view_ != View::kDualDispatch || !(p.flags & PARAMFLAG_FRETVAL))
                names.push_back(&p.name);
    } else if (const VarData* v = FindVar(memid)) {
        names.push_back(&v->name);
    } else if (ITypeInfo* owner = InheritedOwner(memid)) {
        return owner->GetNames(memid, rgBstrNames, cMaxNames, pcNames);
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
    if (!found) {
        // A dual interface's dispatch view answers for the interfaces it derives from.
        for (ITypeInfo* base : bases_) {
            const HRESULT hr = base->GetIDsOfNames(rgszNames, cNames, pMemId);
            if (hr != DISP_E_UNKNOWNNAME || pMemId[0] != MEMBERID_NIL) return hr;
        }
        return DISP_E_UNKNOWNNAME;
    }
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
    } else if (ITypeInfo* owner = InheritedOwner(memid)) {
        return owner->GetDocumentation(memid, pBstrName, pBstrDocString, pdwHelpContext,
                                       pBstrHelpFile);
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
    if (hRefType == kOtherViewHref) {
        if (!other_) return TYPE_E_ELEMENTNOTFOUND;
        *ppTInfo = other_;
        lib_->AddRef();
        return S_OK;
    }
    if (IsForeignHref(hRefType)) {
        const std::size_t index = hRefType >> 2;
        if (index >= foreign_.size()) return TYPE_E_ELEMENTNOTFOUND;
        return foreign_[index].owner->GetRefTypeInfo(foreign_[index].href, ppTInfo);
    }
    if (hRefType & kVtableViewFlag) {
        ComPtr<ITypeInfo> dispatch;
        HRESULT hr = GetRefTypeInfo(hRefType & ~kVtableViewFlag, &dispatch);
        if (FAILED(hr)) return hr;
        TYPEATTR* attr = nullptr;
        if (FAILED(hr = dispatch->GetTypeAttr(&attr))) return hr;
        const bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
        dispatch->ReleaseTypeAttr(attr);
        HREFTYPE vtable = 0;
        if (!dual || FAILED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable))) {
            *ppTInfo = dispatch.Detach();
            return S_OK;
        }
        return dispatch->GetRefTypeInfo(vtable, ppTInfo);
    }
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

bool TypeInfoImpl::NamesDual(HREFTYPE href) const {
    if (typelib::IsImportedHref(href)) {
        const std::size_t index = (href - 1) / 12;
        return index < data_.refs.size() && data_.refs[index].kind == TKIND_DISPATCH;
    }
    const std::size_t index = href / typelib::kTypeInfoRecordSize;
    return href % typelib::kTypeInfoRecordSize == 0 && index < data_.types.size() &&
           typelib::IsDual(data_.types[index]);
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
            SetErrorInfo(0, nullptr);  // not a failure: the built-in description answers
            lib = new TypeLibImpl(typelib::StandardOleLibrary(imp));
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

}  // namespace

namespace typelib {

ITypeLib* NewTypeLibObject(LibraryData data) { return new TypeLibImpl(std::move(data)); }

}  // namespace typelib
