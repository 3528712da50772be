// The type-library description language: the subset that describes dispinterfaces and coclasses.
#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "generators/rescomp/rescomp.h"
#include "generators/rescomp/tokens.h"
#include "platform/base/text.h"
#include "platform/com/guid_text.h"

namespace rescomp {
namespace {

using ParseError = LineError;

enum class Tok { Ident, Number, String, Punct, Uuid, End };
using Token = BasicToken<Tok>;

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What the shared lexer leaves: comments, names, numbers, punctuation and uuid(...)'s GUID.
void LexRest(Lexer<Tok>& x) {
    const std::string& s = x.text;
    const char c = s[x.at];
    if (c == '/' && x.Ahead(1) == '/') {
        x.SkipLine();
    } else if (c == '/' && x.Ahead(1) == '*') {
        std::size_t end = s.find("*/", x.at + 2);
        if (end == std::string::npos) throw ParseError(x.line, "unterminated comment");
        for (std::size_t k = x.at; k < end; ++k)
            if (s[k] == '\n') ++x.line;
        x.at = end + 2;
    } else if (IsIdentStart(c)) {
        std::size_t start = x.at;
        while (x.at < s.size() && IsIdentChar(s[x.at])) ++x.at;
        x.Push(Tok::Ident, s.substr(start, x.at - start));
    } else if (IsDigit(c) || (c == '-' && IsDigit(x.Ahead(1)))) {
        std::size_t start = x.at++;
        while (x.at < s.size() && (IsIdentChar(s[x.at]) || s[x.at] == '.')) ++x.at;
        x.Push(Tok::Number, s.substr(start, x.at - start));
    } else if (std::string_view("[](){};:,*=").find(c) != std::string_view::npos) {
        x.Push(Tok::Punct, std::string(1, c));
        ++x.at;
        // uuid(...) holds a bare GUID that is no token of the language: take it raw.
        const std::vector<Token>& out = x.tokens;
        if (c == '(' && out.size() >= 2 && out[out.size() - 2].kind == Tok::Ident &&
            out[out.size() - 2].text == "uuid") {
            std::size_t end = s.find(')', x.at);
            if (end == std::string::npos || s.find('\n', x.at) < end)
                throw ParseError(x.line, "unterminated uuid");
            x.Push(Tok::Uuid,
                   std::string(base::Trim(std::string_view(s).substr(x.at, end - x.at))));
            x.at = end;
        }
    } else {
        throw ParseError(x.line, std::string("unexpected character '") + c + "'");
    }
}

// A bare GUID "6B2F14D0-5C83-11D0-9E41-0040A7B3C250": the registry form without its braces.
bool ParseBareGuid(const std::string& text, GUID* g) { return GuidFromString("{" + text + "}", g); }

// Member ids the platform gives names to.
const std::map<std::string, long long>& NamedIds() {
    static const std::map<std::string, long long> kIds = {
        {"DISPID_VALUE", 0},        {"DISPID_NEWENUM", -4},    {"DISPID_EVALUATE", -5},
        {"DISPID_REFRESH", -550},   {"DISPID_DOCLICK", -551},  {"DISPID_ABOUTBOX", -552},
        {"DISPID_CLICK", -600},     {"DISPID_DBLCLICK", -601}, {"DISPID_KEYDOWN", -602},
        {"DISPID_KEYPRESS", -603},  {"DISPID_KEYUP", -604},    {"DISPID_MOUSEDOWN", -605},
        {"DISPID_MOUSEMOVE", -606}, {"DISPID_MOUSEUP", -607},  {"DISPID_ERROREVENT", -608},
    };
    return kIds;
}

struct Attr {
    std::string name;
    std::vector<Token> args;
    int line;
};

// A name used as a type before the library's types are all known.
struct PendingRef {
    std::string name;
    int line;
};

class Parser : TokenReader<Tok> {
public:
    explicit Parser(std::vector<Token> tokens)
        : TokenReader(std::move(tokens), "the end of the file") {}

    // The classes the module serves, in the order the description names them.
    const ModuleIdentity& Identity() const { return identity_; }

    typelib::LibraryData Parse() {
        std::vector<Attr> attrs = Attributes();
        ExpectWord("library");
        lib_.name = Ident("library name");
        LibraryAttributes(attrs);
        Expect("{");
        while (!Accept("}")) {
            if (AcceptWord("importlib")) {
                Import();
                continue;
            }
            std::vector<Attr> typeAttrs = Attributes();
            const Token& kw = Peek();
            if (AcceptWord("dispinterface")) {
                Dispinterface(typeAttrs, kw.line);
            } else if (AcceptWord("coclass")) {
                Coclass(typeAttrs, kw.line);
            } else {
                throw ParseError(
                    kw.line, "expected importlib, dispinterface or coclass, found " + Describe(kw));
            }
        }
        Accept(";");
        if (Peek().kind != Tok::End)
            throw ParseError(Peek().line, "unexpected " + Describe(Peek()) + " after the library");
        Resolve();
        return std::move(lib_);
    }

private:
    // ------------------------------------------------ tokens
    bool Accept(const char* punct) { return TokenReader::Accept(Tok::Punct, punct); }
    void Expect(const char* punct) {
        if (!Accept(punct)) Expected(std::string("'") + punct + "'");
    }
    bool AcceptWord(const char* word) { return TokenReader::Accept(Tok::Ident, word); }
    void ExpectWord(const char* word) {
        if (!AcceptWord(word)) Expected(std::string("'") + word + "'");
    }
    std::string Ident(const char* what) {
        if (Peek().kind != Tok::Ident) Expected(what);
        return Next().text;
    }

    // ------------------------------------------------ attributes
    std::vector<Attr> Attributes() {
        std::vector<Attr> attrs;
        if (!Accept("[")) return attrs;
        do {
            Attr a;
            a.line = Peek().line;
            a.name = Ident("an attribute");
            if (Accept("(")) {
                if (!Accept(")")) {
                    do {
                        if (Peek().kind == Tok::End || Peek().kind == Tok::Punct)
                            throw ParseError(Peek().line, "expected an attribute argument, found " +
                                                              Describe(Peek()));
                        a.args.push_back(Next());
                    } while (Accept(","));
                    Expect(")");
                }
            }
            for (const Attr& seen : attrs)
                if (seen.name == a.name)
                    throw ParseError(a.line, "attribute " + a.name + " given twice");
            attrs.push_back(std::move(a));
        } while (Accept(","));
        Expect("]");
        return attrs;
    }

    static const Token& OneArg(const Attr& a, Tok kind, const char* what) {
        if (a.args.size() != 1 || a.args[0].kind != kind)
            throw ParseError(a.line, a.name + " takes " + what);
        return a.args[0];
    }
    static void NoArgs(const Attr& a) {
        if (!a.args.empty()) throw ParseError(a.line, a.name + " takes no argument");
    }
    static long long Integer(const Attr& a, long long lo, long long hi) {
        if (a.args.size() != 1) throw ParseError(a.line, a.name + " takes a number");
        const Token& tok = a.args[0];
        std::optional<long long> v;
        if (tok.kind == Tok::Number) {
            v = ParseInteger(tok.text);
        } else if (tok.kind == Tok::Ident) {
            auto it = NamedIds().find(tok.text);
            if (it == NamedIds().end()) throw ParseError(a.line, "unknown constant " + tok.text);
            v = it->second;
        }
        if (!v || *v < lo || *v > hi) throw ParseError(a.line, a.name + ": bad number");
        return *v;
    }
    static GUID Uuid(const Attr& a) {
        GUID g;
        if (!ParseBareGuid(OneArg(a, Tok::Uuid, "a GUID").text, &g))
            throw ParseError(a.line, "bad GUID in uuid()");
        return g;
    }
    static void Version(const Attr& a, WORD* major, WORD* minor) {
        const std::string& text = OneArg(a, Tok::Number, "major.minor").text;
        std::size_t dot = text.find('.');
        std::optional<long long> ma, mi;
        if (dot != std::string::npos) {
            ma = ParseInteger(text.substr(0, dot));
            mi = ParseInteger(text.substr(dot + 1));
        } else {
            ma = ParseInteger(text);
            mi = 0;
        }
        if (!ma || !mi || *ma < 0 || *ma > 0xFFFF || *mi < 0 || *mi > 0xFFFF)
            throw ParseError(a.line, "bad version " + text);
        *major = static_cast<WORD>(*ma);
        *minor = static_cast<WORD>(*mi);
    }

    void LibraryAttributes(const std::vector<Attr>& attrs) {
        bool haveUuid = false;
        for (const Attr& a : attrs) {
            if (a.name == "uuid") {
                lib_.guid = Uuid(a);
                haveUuid = true;
            } else if (a.name == "version") {
                Version(a, &lib_.major, &lib_.minor);
            } else if (a.name == "lcid") {
                lib_.lcid = static_cast<LCID>(Integer(a, 0, 0xFFFFFFFFLL));
            } else if (a.name == "helpstring") {
                lib_.doc = OneArg(a, Tok::String, "a string").text;
            } else if (a.name == "helpfile") {
                lib_.helpFile = OneArg(a, Tok::String, "a string").text;
            } else if (a.name == "helpcontext") {
                lib_.helpContext = static_cast<DWORD>(Integer(a, 0, 0xFFFFFFFFLL));
            } else if (a.name == "control") {
                NoArgs(a);
                lib_.flags |= LIBFLAG_FCONTROL;
            } else if (a.name == "hidden") {
                NoArgs(a);
                lib_.flags |= LIBFLAG_FHIDDEN;
            } else if (a.name == "restricted") {
                NoArgs(a);
                lib_.flags |= LIBFLAG_FRESTRICTED;
            } else {
                throw ParseError(a.line, "attribute " + a.name + " does not apply to a library");
            }
        }
        if (!haveUuid) throw ParseError(Peek().line, "the library has no uuid");
    }

    // Attributes shared by dispinterfaces and coclasses; false for one it does not know.
    bool TypeAttribute(const Attr& a, typelib::TypeData* t, bool* haveUuid) {
        if (a.name == "uuid") {
            t->guid = Uuid(a);
            *haveUuid = true;
        } else if (a.name == "version") {
            Version(a, &t->major, &t->minor);
        } else if (a.name == "helpstring") {
            t->doc = OneArg(a, Tok::String, "a string").text;
        } else if (a.name == "helpcontext") {
            t->helpContext = static_cast<DWORD>(Integer(a, 0, 0xFFFFFFFFLL));
        } else if (a.name == "hidden") {
            NoArgs(a);
            t->flags |= TYPEFLAG_FHIDDEN;
        } else if (a.name == "restricted") {
            NoArgs(a);
            t->flags |= TYPEFLAG_FRESTRICTED;
        } else {
            return false;
        }
        return true;
    }

    // ------------------------------------------------ library items
    void Import() {
        const int line = Peek().line;
        Expect("(");
        if (Peek().kind != Tok::String) throw ParseError(line, "importlib takes a file name");
        const std::string file = Next().text;
        Expect(")");
        Expect(";");
        // The standard automation library is the one import a description of ours needs.
        typelib::ImportData imp;
        imp.name = file;
        imp.guid = typelib::kStdOleGuid;
        imp.lcid = lib_.lcid;
        if (file == "stdole32.tlb") {
            imp.major = 1;
        } else if (file == "stdole2.tlb") {
            imp.major = 2;
        } else {
            throw ParseError(line,
                             "unknown library " + file + " (known: stdole32.tlb, stdole2.tlb)");
        }
        lib_.imports.push_back(imp);
    }

    // Every dispinterface is reached through IDispatch, which the library takes from the standard
    // automation library it imports: the one implemented type the platform's compilers give it.
    void AddDispatchBase() {
        std::optional<std::uint32_t> base;
        for (typelib::TypeData& t : lib_.types) {
            if (t.kind != TKIND_DISPATCH) continue;
            if (!base) {
                std::size_t stdole = 0;
                while (stdole < lib_.imports.size() &&
                       lib_.imports[stdole].guid != typelib::kStdOleGuid)
                    ++stdole;
                // A description that imports nothing takes IDispatch from where the platform's
                // description compilers take it by default.
                if (stdole == lib_.imports.size())
                    lib_.imports.push_back({"stdole32.tlb", typelib::kStdOleGuid, lib_.lcid, 1, 0});
                base = static_cast<std::uint32_t>(lib_.refs.size());
                lib_.refs.push_back(
                    {static_cast<std::uint32_t>(stdole), typelib::kIDispatchGuid, TKIND_INTERFACE});
            }
            t.impls.push_back({typelib::ImportedHref(*base), 0});
            t.vtableSize = static_cast<WORD>(4 * t.funcs.size());
        }
    }

    typelib::TypeData& NewType(const std::string& name, int line) {
        if (!typeNames_.emplace(name, lib_.types.size()).second)
            throw ParseError(line, "type " + name + " defined twice");
        typelib::TypeData& t = lib_.types.emplace_back();
        t.name = name;
        t.size = 4;  // a pointer in the 32-bit module
        return t;
    }

    void Dispinterface(const std::vector<Attr>& attrs, int line) {
        const std::string name = Ident("a dispinterface name");
        const std::size_t index = lib_.types.size();
        {
            typelib::TypeData& t = NewType(name, line);
            t.kind = TKIND_DISPATCH;
            t.flags = TYPEFLAG_FDISPATCHABLE;  // reached through IDispatch by definition
            bool haveUuid = false;
            for (const Attr& a : attrs) {
                if (TypeAttribute(a, &t, &haveUuid)) continue;
                if (a.name == "nonextensible") {
                    NoArgs(a);
                    t.flags |= TYPEFLAG_FNONEXTENSIBLE;
                    continue;
                }
                throw ParseError(a.line,
                                 "attribute " + a.name + " does not apply to a dispinterface");
            }
            if (!haveUuid) throw ParseError(line, "dispinterface " + name + " has no uuid");
        }
        Expect("{");
        ExpectWord("properties");
        Expect(":");
        std::map<std::string, unsigned> memberKinds;  // name -> invoke kinds taken
        while (Peek().kind == Tok::Punct && Peek().text == "[") {
            const int propLine = Peek().line;
            std::vector<Attr> propAttrs = Attributes();
            typelib::VarData v;
            v.varkind = VAR_DISPATCH;
            v.type = Type();
            v.name = Ident("a property name");
            Expect(";");
            bool haveId = false;
            for (const Attr& a : propAttrs) {
                if (a.name == "id") {
                    v.memid = static_cast<MEMBERID>(Integer(a, INT32_MIN, INT32_MAX));
                    haveId = true;
                } else if (a.name == "helpstring") {
                    v.doc = OneArg(a, Tok::String, "a string").text;
                } else if (a.name == "helpcontext") {
                    v.helpContext = static_cast<DWORD>(Integer(a, 0, 0xFFFFFFFFLL));
                } else if (WORD flag = VarFlag(a.name)) {
                    NoArgs(a);
                    v.flags |= flag;
                } else {
                    throw ParseError(a.line,
                                     "attribute " + a.name + " does not apply to a property");
                }
            }
            if (!haveId) throw ParseError(propLine, "property " + v.name + " has no id");
            TakeName(&memberKinds, v.name, 0xF, propLine);
            lib_.types[index].vars.push_back(std::move(v));
        }
        ExpectWord("methods");
        Expect(":");
        while (Peek().kind == Tok::Punct && Peek().text == "[") {
            const int methodLine = Peek().line;
            std::vector<Attr> methodAttrs = Attributes();
            typelib::FuncData f;
            f.funckind = FUNC_DISPATCH;
            f.callconv = CC_STDCALL;
            f.invkind = INVOKE_FUNC;
            f.ret = Type();
            f.name = Ident("a method name");
            Parameters(&f);
            Expect(";");
            bool haveId = false;
            for (const Attr& a : methodAttrs) {
                if (a.name == "id") {
                    f.memid = static_cast<MEMBERID>(Integer(a, INT32_MIN, INT32_MAX));
                    haveId = true;
                } else if (a.name == "helpstring") {
                    f.doc = OneArg(a, Tok::String, "a string").text;
                } else if (a.name == "helpcontext") {
                    f.helpContext = static_cast<DWORD>(Integer(a, 0, 0xFFFFFFFFLL));
                } else if (a.name == "propget" || a.name == "propput" || a.name == "propputref") {
                    NoArgs(a);
                    if (f.invkind != INVOKE_FUNC)
                        throw ParseError(a.line, "a method has one property kind at most");
                    f.invkind = a.name == "propget"   ? INVOKE_PROPERTYGET
                                : a.name == "propput" ? INVOKE_PROPERTYPUT
                                                      : INVOKE_PROPERTYPUTREF;
                } else if (WORD flag = FuncFlag(a.name)) {
                    NoArgs(a);
                    f.flags |= flag;
                } else {
                    throw ParseError(a.line, "attribute " + a.name + " does not apply to a method");
                }
            }
            if (!haveId) throw ParseError(methodLine, "method " + f.name + " has no id");
            TakeName(&memberKinds, f.name, f.invkind, methodLine);
            lib_.types[index].funcs.push_back(std::move(f));
        }
        Expect("}");
        Accept(";");
    }

    // One name per member, except that a property's get and put methods share theirs.
    static void TakeName(std::map<std::string, unsigned>* taken, const std::string& name,
                         unsigned kinds, int line) {
        unsigned& mask = (*taken)[name];
        if (mask & kinds) throw ParseError(line, "member " + name + " declared twice");
        mask |= kinds;
    }

    static WORD VarFlag(const std::string& name) {
        if (name == "readonly") return VARFLAG_FREADONLY;
        if (name == "source") return VARFLAG_FSOURCE;
        if (name == "bindable") return VARFLAG_FBINDABLE;
        if (name == "requestedit") return VARFLAG_FREQUESTEDIT;
        if (name == "displaybind") return VARFLAG_FDISPLAYBIND;
        if (name == "defaultbind") return VARFLAG_FDEFAULTBIND;
        if (name == "hidden") return VARFLAG_FHIDDEN;
        if (name == "restricted") return VARFLAG_FRESTRICTED;
        if (name == "nonbrowsable") return VARFLAG_FNONBROWSABLE;
        return 0;
    }
    static WORD FuncFlag(const std::string& name) {
        if (name == "restricted") return FUNCFLAG_FRESTRICTED;
        if (name == "source") return FUNCFLAG_FSOURCE;
        if (name == "bindable") return FUNCFLAG_FBINDABLE;
        if (name == "requestedit") return FUNCFLAG_FREQUESTEDIT;
        if (name == "displaybind") return FUNCFLAG_FDISPLAYBIND;
        if (name == "defaultbind") return FUNCFLAG_FDEFAULTBIND;
        if (name == "hidden") return FUNCFLAG_FHIDDEN;
        if (name == "nonbrowsable") return FUNCFLAG_FNONBROWSABLE;
        return 0;
    }

    void Parameters(typelib::FuncData* f) {
        Expect("(");
        if (Accept(")")) return;
        if (Peek().kind == Tok::Ident && Peek().text == "void" && Peek(1).kind == Tok::Punct &&
            Peek(1).text == ")") {
            Next();
            Next();
            return;
        }
        std::set<std::string> names;
        do {
            const int line = Peek().line;
            std::vector<Attr> attrs = Attributes();
            typelib::ParamData p;
            p.type = Type();
            if (p.type.vt == VT_VOID) throw ParseError(line, "a parameter cannot be void");
            p.name = Ident("a parameter name");
            for (const Attr& a : attrs) {
                NoArgs(a);
                if (a.name == "in")
                    p.flags |= PARAMFLAG_FIN;
                else if (a.name == "out")
                    p.flags |= PARAMFLAG_FOUT;
                else if (a.name == "lcid")
                    p.flags |= PARAMFLAG_FLCID;
                else if (a.name == "retval")
                    p.flags |= PARAMFLAG_FRETVAL;
                else if (a.name == "optional")
                    p.flags |= PARAMFLAG_FOPT;
                else
                    throw ParseError(a.line,
                                     "attribute " + a.name + " does not apply to a parameter");
            }
            if (!names.insert(p.name).second)
                throw ParseError(line, "parameter " + p.name + " declared twice");
            f->params.push_back(std::move(p));
        } while (Accept(","));
        Expect(")");
    }

    typelib::TypeRef Type() {
        const int line = Peek().line;
        std::string name = Ident("a type");
        typelib::TypeRef base;
        bool interfacePointer = false;
        static const std::map<std::string, VARTYPE> kBase = {
            {"short", VT_I2},        {"long", VT_I4},           {"int", VT_INT},
            {"float", VT_R4},        {"double", VT_R8},         {"BSTR", VT_BSTR},
            {"boolean", VT_BOOL},    {"VARIANT_BOOL", VT_BOOL}, {"void", VT_VOID},
            {"VARIANT", VT_VARIANT}, {"SCODE", VT_ERROR},       {"HRESULT", VT_HRESULT},
            {"DATE", VT_DATE},       {"CURRENCY", VT_CY},       {"char", VT_I1},
            {"BYTE", VT_UI1},        {"OLE_COLOR", VT_UI4}};
        if (name == "unsigned") {
            std::string next = Ident("a type after unsigned");
            if (next == "char")
                base.vt = VT_UI1;
            else if (next == "short")
                base.vt = VT_UI2;
            else if (next == "long")
                base.vt = VT_UI4;
            else if (next == "int")
                base.vt = VT_UINT;
            else
                throw ParseError(line, "unknown type unsigned " + next);
        } else if (name == "IDispatch" || name == "IUnknown") {
            base.vt = name == "IDispatch" ? VT_DISPATCH : VT_UNKNOWN;
            interfacePointer = true;
        } else if (auto it = kBase.find(name); it != kBase.end()) {
            base.vt = it->second;
        } else {
            base.vt = VT_USERDEFINED;
            pending_.push_back({name, line});
        }
        // An interface is only ever passed by pointer: its first '*' is part of the name.
        if (interfacePointer) Expect("*");
        typelib::TypeRef result = base;
        int depth = 0;
        while (Accept("*")) {
            if (++depth > typelib::kMaxTypeDepth) throw ParseError(line, "too many '*'");
            typelib::TypeRef ptr;
            ptr.vt = VT_PTR;
            ptr.pointee.push_back(std::move(result));
            result = std::move(ptr);
        }
        return result;
    }

    // A property page the module serves: its identity only, since hosts find pages through the
    // control, never through the type library.
    void PropertyPage(const std::vector<Attr>& attrs, const std::string& name, int line) {
        if (typeNames_.count(name) || !pageNames_.insert(name).second)
            throw ParseError(line, "type " + name + " defined twice");
        ClassIdentity page{name, {}, {}};
        bool haveUuid = false;
        for (const Attr& a : attrs) {
            if (a.name == "uuid") {
                page.clsid = Uuid(a);
                haveUuid = true;
            } else if (a.name == "progid") {
                page.progid = OneArg(a, Tok::String, "a string").text;
            } else if (a.name != "propertypage") {
                throw ParseError(a.line,
                                 "attribute " + a.name + " does not apply to a property page");
            }
        }
        if (!haveUuid) throw ParseError(line, "property page " + name + " has no uuid");
        Expect("{");
        Expect("}");
        Accept(";");
        identity_.classes.push_back(std::move(page));
    }

    void Coclass(const std::vector<Attr>& attrs, int line) {
        const std::string name = Ident("a coclass name");
        for (const Attr& a : attrs) {
            if (a.name != "propertypage") continue;
            NoArgs(a);
            return PropertyPage(attrs, name, line);
        }
        if (pageNames_.count(name)) throw ParseError(line, "type " + name + " defined twice");
        typelib::TypeData& t = NewType(name, line);
        ClassIdentity identity{name, {}, {}};
        t.kind = TKIND_COCLASS;
        t.flags = TYPEFLAG_FCANCREATE;  // unless said otherwise
        bool haveUuid = false;
        for (const Attr& a : attrs) {
            if (TypeAttribute(a, &t, &haveUuid)) continue;
            if (a.name == "progid") {
                identity.progid = OneArg(a, Tok::String, "a string").text;
                continue;
            }
            NoArgs(a);
            if (a.name == "control")
                t.flags |= TYPEFLAG_FCONTROL;
            else if (a.name == "noncreatable")
                t.flags &= ~TYPEFLAG_FCANCREATE;
            else if (a.name == "licensed")
                t.flags |= TYPEFLAG_FLICENSED;
            else if (a.name == "appobject")
                t.flags |= TYPEFLAG_FAPPOBJECT;
            else if (a.name == "aggregatable")
                t.flags |= TYPEFLAG_FAGGREGATABLE;
            else
                throw ParseError(a.line, "attribute " + a.name + " does not apply to a coclass");
        }
        if (!haveUuid) throw ParseError(line, "coclass " + name + " has no uuid");
        identity.clsid = t.guid;
        identity_.classes.push_back(std::move(identity));
        const std::size_t index = lib_.types.size() - 1;
        Expect("{");
        while (!Accept("}")) {
            const int implLine = Peek().line;
            std::vector<Attr> implAttrs = Attributes();
            if (!AcceptWord("dispinterface") && !AcceptWord("interface"))
                throw ParseError(Peek().line,
                                 "expected dispinterface or interface, found " + Describe(Peek()));
            std::string implName = Ident("an interface name");
            Expect(";");
            typelib::ImplData impl;
            for (const Attr& a : implAttrs) {
                NoArgs(a);
                if (a.name == "default")
                    impl.flags |= IMPLTYPEFLAG_FDEFAULT;
                else if (a.name == "source")
                    impl.flags |= IMPLTYPEFLAG_FSOURCE;
                else if (a.name == "restricted")
                    impl.flags |= IMPLTYPEFLAG_FRESTRICTED;
                else if (a.name == "defaultvtable")
                    impl.flags |= IMPLTYPEFLAG_FDEFAULTVTABLE;
                else
                    throw ParseError(a.line, "attribute " + a.name +
                                                 " does not apply to an interface of a coclass");
            }
            lib_.types[index].impls.push_back(impl);
            implRefs_.push_back({index, lib_.types[index].impls.size() - 1, implName, implLine});
        }
        Accept(";");
    }

    // Names of types become indices once every type is known.
    void Resolve() {
        for (const ImplRef& r : implRefs_) {
            auto it = typeNames_.find(r.name);
            if (it == typeNames_.end()) throw ParseError(r.line, "unknown interface " + r.name);
            const typelib::TypeData& target = lib_.types[it->second];
            if (target.kind != TKIND_DISPATCH && target.kind != TKIND_INTERFACE)
                throw ParseError(r.line, r.name + " is not an interface");
            lib_.types[r.type].impls[r.impl].type = typelib::LocalHref(it->second);
        }
        AddDispatchBase();
        // User-defined types are rare in a control's description, and only by name: walk every
        // member's types in order and fill them from the pending list.
        std::size_t next = 0;
        for (typelib::TypeData& t : lib_.types) {
            auto fill = [&](typelib::TypeRef& ref, auto&& self) -> void {
                if (!ref.pointee.empty()) return self(ref.pointee[0], self);
                if (ref.vt != VT_USERDEFINED) return;
                const PendingRef& p = pending_[next++];
                auto it = typeNames_.find(p.name);
                if (it == typeNames_.end()) throw ParseError(p.line, "unknown type " + p.name);
                ref.hreftype = typelib::LocalHref(it->second);
            };
            for (typelib::VarData& v : t.vars) fill(v.type, fill);
            for (typelib::FuncData& f : t.funcs) {
                fill(f.ret, fill);
                for (typelib::ParamData& p : f.params) fill(p.type, fill);
            }
        }
    }

    struct ImplRef {
        std::size_t type;
        std::size_t impl;
        std::string name;
        int line;
    };

    typelib::LibraryData lib_;
    std::map<std::string, std::size_t> typeNames_;
    std::vector<ImplRef> implRefs_;
    std::vector<PendingRef> pending_;  // in the order Resolve() meets them
    std::set<std::string> pageNames_;
    ModuleIdentity identity_;
};

}  // namespace

// The parser reports its first error by throwing; nothing of that crosses this function.
base::Result<Description> ParseTypeLibraryDescription(const std::string& text,
                                                      const std::string& file) {
    try {
        Parser parser(Lexer<Tok>(text).Run(LexRest));
        Description description{parser.Parse(), {}};
        description.identity = parser.Identity();
        if (const auto valid = typelib::ValidateTypeLibrary(description.lib); !valid)
            return base::Fail(file + ": " + valid.message());
        // What the library's format cannot hold (text beyond ASCII) is the description's error.
        if (const auto bytes = typelib::SerializeTypeLibrary(description.lib); !bytes)
            return base::Fail(file + ": " + bytes.message());
        return description;
    } catch (const ParseError& e) {
        return base::Fail(file + ":" + std::to_string(e.line) + ": " + e.what());
    }
}

}  // namespace rescomp
