// Prints what ITypeLib and ITypeInfo say about a type library, built twice from this one source:
// against our COM stand-in (a native program) and against the platform's headers (a Winelib
// program run under Wine). Both ask the same questions in the same order, so two dumps of the
// same bytes compare line for line.
//
//   typelib_dump FILE      exit 0; 2 when the library does not load (the HRESULT is printed)
//   typelib_dump --as-win64 FILE OUT
//                          (native only) writes FILE's library again with our writer, as a
//                          library of 64-bit modules (SYS_WIN64), to OUT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef TYPELIB_DUMP_PLATFORM
#include <oleauto.h>
#include <windows.h>
using Char = WCHAR;
#else
#include <fstream>
#include <iterator>

#include "platform/com/typelib.h"
#include "platform/com/typelib_format.h"
using Char = OLECHAR;
#endif

namespace {

std::string Utf8(const Char* s) {
    if (!s) return "(null)";
    std::string out;
    for (; *s; ++s) {
        unsigned c = static_cast<unsigned>(*s) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && (s[1] & 0xFC00) == 0xDC00) {
            c = 0x10000 + ((c - 0xD800) << 10) + ((static_cast<unsigned>(s[1]) & 0xFFFF) - 0xDC00);
            ++s;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A BSTR printed and freed.
std::string Take(BSTR s) {
    std::string out = s ? "\"" + Utf8(s) + "\"" : std::string("(null)");
    SysFreeString(s);
    return out;
}

std::string Hex(std::uint32_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(v));
    return buf;
}

std::string Guid(const GUID& g) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

// The name, GUID and kind of a type another one refers to.
std::string RefName(ITypeInfo* info, HREFTYPE ref) {
    ITypeInfo* other = nullptr;
    HRESULT hr = info->GetRefTypeInfo(ref, &other);
    if (FAILED(hr)) return "unresolved " + Hex(static_cast<std::uint32_t>(hr));
    BSTR name = nullptr;
    std::string out;
    if (SUCCEEDED(other->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)))
        out = Utf8(name);
    SysFreeString(name);
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(other->GetTypeAttr(&attr))) {
        out += " " + Guid(attr->guid) + " kind " + std::to_string(attr->typekind);
        other->ReleaseTypeAttr(attr);
    }
    ITypeLib* lib = nullptr;
    UINT index = 0;
    if (SUCCEEDED(other->GetContainingTypeLib(&lib, &index))) {
        TLIBATTR* la = nullptr;
        if (SUCCEEDED(lib->GetLibAttr(&la))) {
            out += " in " + Guid(la->guid) + " " + std::to_string(la->wMajorVerNum) + "." +
                   std::to_string(la->wMinorVerNum);
            lib->ReleaseTLibAttr(la);
        }
        lib->Release();
    }
    other->Release();
    return out;
}

std::string Type(ITypeInfo* info, const TYPEDESC& t, int depth = 0) {
    if (depth > 16) return "...";
    switch (t.vt) {
        case VT_PTR:
            return "PTR(" + Type(info, *t.lptdesc, depth + 1) + ")";
        case 27:  // VT_SAFEARRAY
            return "SAFEARRAY(" + Type(info, *t.lptdesc, depth + 1) + ")";
        case VT_USERDEFINED:
            return "USERDEFINED(" + RefName(info, t.hreftype) + ")";
        default:
            return "vt" + std::to_string(t.vt);
    }
}

std::string Value(const VARIANT* v) {
    if (!v) return "(none)";
    std::string out = "vt" + std::to_string(v->vt) + " ";
    switch (v->vt) {
        case VT_I2:
            return out + std::to_string(v->iVal);
        case VT_I4:
        case VT_INT:
            return out + std::to_string(v->lVal);
        case VT_UI4:
        case VT_UINT:
            return out + std::to_string(v->ulVal);
        case VT_BSTR:
            return out + (v->bstrVal ? "\"" + Utf8(v->bstrVal) + "\"" : "(null)");
        default:
            return out + "?";
    }
}

void Doc(ITypeInfo* info, MEMBERID id, const char* indent) {
    BSTR name = nullptr, doc = nullptr, file = nullptr;
    DWORD context = 0;
    HRESULT hr = info->GetDocumentation(id, &name, &doc, &context, &file);
    if (FAILED(hr)) {
        std::printf("%sdoc failed %s\n", indent, Hex(static_cast<std::uint32_t>(hr)).c_str());
        return;
    }
    std::string n = Take(name), d = Take(doc), f = Take(file);
    std::printf("%sdoc name %s string %s context %lu file %s\n", indent, n.c_str(), d.c_str(),
                static_cast<unsigned long>(context), f.c_str());
}

void Names(ITypeInfo* info, MEMBERID id, const char* indent) {
    BSTR names[16] = {};
    UINT count = 0;
    HRESULT hr = info->GetNames(id, names, 16, &count);
    std::printf("%snames", indent);
    if (FAILED(hr)) std::printf(" failed %s", Hex(static_cast<std::uint32_t>(hr)).c_str());
    for (UINT i = 0; i < count; ++i) std::printf(" %s", Take(names[i]).c_str());
    std::printf("\n");
}

void Members(ITypeInfo* info, const TYPEATTR& attr) {
    for (UINT i = 0; i < attr.cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        HRESULT hr = info->GetFuncDesc(i, &f);
        if (FAILED(hr)) {
            std::printf("  func %u failed %s\n", i, Hex(static_cast<std::uint32_t>(hr)).c_str());
            continue;
        }
        std::printf(
            "  func %u id %ld invoke %d kind %d callconv %d params %d optional %d vft %d "
            "flags %s returns %s\n",
            i, static_cast<long>(f->memid), f->invkind, f->funckind, f->callconv, f->cParams,
            f->cParamsOpt, f->oVft, Hex(f->wFuncFlags).c_str(),
            Type(info, f->elemdescFunc.tdesc).c_str());
        for (SHORT p = 0; p < f->cParams; ++p)
            std::printf("    param %d %s flags %s\n", p,
                        Type(info, f->lprgelemdescParam[p].tdesc).c_str(),
                        Hex(f->lprgelemdescParam[p].paramdesc.wParamFlags).c_str());
        Names(info, f->memid, "    ");
        Doc(info, f->memid, "    ");
        info->ReleaseFuncDesc(f);
    }
    for (UINT i = 0; i < attr.cVars; ++i) {
        VARDESC* v = nullptr;
        HRESULT hr = info->GetVarDesc(i, &v);
        if (FAILED(hr)) {
            std::printf("  var %u failed %s\n", i, Hex(static_cast<std::uint32_t>(hr)).c_str());
            continue;
        }
        std::printf("  var %u id %ld kind %d flags %s type %s", i, static_cast<long>(v->memid),
                    v->varkind, Hex(v->wVarFlags).c_str(),
                    Type(info, v->elemdescVar.tdesc).c_str());
        if (v->varkind == VAR_CONST) std::printf(" value %s", Value(v->lpvarValue).c_str());
        std::printf("\n");
        Names(info, v->memid, "    ");
        Doc(info, v->memid, "    ");
        info->ReleaseVarDesc(v);
    }
}

// A type's documentation, implemented types and members.
void DumpInfo(ITypeInfo* info, const TYPEATTR& attr) {
    Doc(info, MEMBERID_NIL, "  ");
    if (attr.typekind == TKIND_ALIAS)
        std::printf("  alias of %s\n", Type(info, attr.tdescAlias).c_str());
    for (UINT i = 0; i < attr.cImplTypes; ++i) {
        HREFTYPE ref = 0;
        INT flags = 0;
        HRESULT got = info->GetRefTypeOfImplType(i, &ref);
        HRESULT gotFlags = info->GetImplTypeFlags(i, &flags);
        if (FAILED(got) || FAILED(gotFlags)) {
            std::printf("  impl %u failed %s\n", i,
                        Hex(static_cast<std::uint32_t>(FAILED(got) ? got : gotFlags)).c_str());
            continue;
        }
        std::printf("  impl %u flags %s %s\n", i, Hex(flags).c_str(), RefName(info, ref).c_str());
    }
    Members(info, attr);
}

std::string Attributes(const TYPEATTR& attr) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "kind %d %s lcid %s version %d.%d flags %s funcs %d vars %d impls %d vft %d",
                  attr.typekind, Guid(attr.guid).c_str(), Hex(attr.lcid).c_str(), attr.wMajorVerNum,
                  attr.wMinorVerNum, Hex(attr.wTypeFlags).c_str(), attr.cFuncs, attr.cVars,
                  attr.cImplTypes, attr.cbSizeVft);
    return buf;
}

// A dual interface's other view (its vtable interface beside its dispatch view, or the other way
// round), which GetRefTypeOfImplType(-1) names; and the way back from that view.
void DumpOtherView(ITypeInfo* info) {
    HREFTYPE ref = 0;
    HRESULT hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
    ITypeInfo* other = nullptr;
    if (SUCCEEDED(hr)) hr = info->GetRefTypeInfo(ref, &other);
    if (FAILED(hr)) {
        std::printf("  other view failed %s\n", Hex(static_cast<std::uint32_t>(hr)).c_str());
        return;
    }
    TYPEATTR* attr = nullptr;
    hr = other->GetTypeAttr(&attr);
    if (FAILED(hr)) {
        std::printf("  other view attributes failed %s\n",
                    Hex(static_cast<std::uint32_t>(hr)).c_str());
        other->Release();
        return;
    }
    std::printf("  other view %s\n", Attributes(*attr).c_str());
    DumpInfo(other, *attr);
    HREFTYPE back = 0;
    if (SUCCEEDED(other->GetRefTypeOfImplType(static_cast<UINT>(-1), &back)))
        std::printf("  back to %s\n", RefName(other, back).c_str());
    else
        std::printf("  no way back\n");
    other->ReleaseTypeAttr(attr);
    other->Release();
}

void DumpType(ITypeLib* lib, UINT index) {
    ITypeInfo* info = nullptr;
    HRESULT hr = lib->GetTypeInfo(index, &info);
    if (FAILED(hr)) {
        std::printf("type %u failed %s\n", index, Hex(static_cast<std::uint32_t>(hr)).c_str());
        return;
    }
    TYPEATTR* attr = nullptr;
    hr = info->GetTypeAttr(&attr);
    if (FAILED(hr)) {
        std::printf("type %u attributes failed %s\n", index,
                    Hex(static_cast<std::uint32_t>(hr)).c_str());
        info->Release();
        return;
    }
    std::printf("type %u %s\n", index, Attributes(*attr).c_str());
    DumpInfo(info, *attr);
    if (attr->wTypeFlags & TYPEFLAG_FDUAL) DumpOtherView(info);
    info->ReleaseTypeAttr(attr);
    info->Release();
}

}  // namespace

#ifndef TYPELIB_DUMP_PLATFORM
// The library in IN written again by our writer as SYS_WIN64, to OUT.
int WriteAsWin64(const char* in, const char* out) {
    std::ifstream file(in, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    if (!file) {
        std::fprintf(stderr, "typelib_dump: cannot read %s\n", in);
        return 1;
    }
    auto lib = typelib::ParseTypeLibrary(bytes);
    if (!lib) {
        std::fprintf(stderr, "typelib_dump: %s: %s\n", in, lib.message().c_str());
        return 1;
    }
    lib->syskind = SYS_WIN64;
    const auto written = typelib::SerializeTypeLibrary(*lib);
    if (!written) {
        std::fprintf(stderr, "typelib_dump: %s\n", written.message().c_str());
        return 1;
    }
    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    o << *written;
    o.close();
    if (!o) {
        std::fprintf(stderr, "typelib_dump: cannot write %s\n", out);
        return 1;
    }
    return 0;
}
#endif

int main(int argc, char** argv) {
#ifndef TYPELIB_DUMP_PLATFORM
    if (argc == 4 && std::string(argv[1]) == "--as-win64") return WriteAsWin64(argv[2], argv[3]);
#endif
    if (argc != 2) {
        std::fprintf(stderr, "usage: typelib_dump FILE\n");
        return 1;
    }
    std::string path = argv[1];
#ifdef TYPELIB_DUMP_PLATFORM
    // Wine sees this machine's root as drive Z:.
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        for (char& c : path)
            if (c == '/') c = '\\';
    }
#endif
    std::basic_string<Char> wide;
    for (unsigned char c : path) wide += static_cast<Char>(c);  // test paths are ASCII
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLib(wide.c_str(), &lib);
    if (FAILED(hr)) {
        std::printf("load failed %s\n", Hex(static_cast<std::uint32_t>(hr)).c_str());
        return 2;
    }
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&attr))) {
        std::printf("library %s lcid %s syskind %d version %d.%d flags %s\n",
                    Guid(attr->guid).c_str(), Hex(attr->lcid).c_str(), attr->syskind,
                    attr->wMajorVerNum, attr->wMinorVerNum, Hex(attr->wLibFlags).c_str());
        lib->ReleaseTLibAttr(attr);
    }
    {
        BSTR name = nullptr, doc = nullptr, file = nullptr;
        DWORD context = 0;
        if (SUCCEEDED(lib->GetDocumentation(-1, &name, &doc, &context, &file))) {
            std::string n = Take(name), d = Take(doc), f = Take(file);
            std::printf("  doc name %s string %s context %lu file %s\n", n.c_str(), d.c_str(),
                        static_cast<unsigned long>(context), f.c_str());
        }
    }
    const UINT count = lib->GetTypeInfoCount();
    std::printf("types %u\n", count);
    for (UINT i = 0; i < count; ++i) DumpType(lib, i);
    lib->Release();
    return 0;
}
