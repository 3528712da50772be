// The resource script: what a module's resources are, in a few lines each.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "generators/rescomp/rescomp.h"
#include "generators/rescomp/tokens.h"
#include "platform/base/text.h"
#include "platform/com/dialog_template.h"
#include "platform/com/version_info.h"

namespace rescomp {
namespace {

using ScriptError = LineError;

enum class Tok { Word, String, Pipe, End };
using Token = BasicToken<Tok>;

// Words run up to white space, a comment, a '|' or a string; control characters end nothing and
// start nothing, they are errors.
bool IsWordChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > ' ' && u != 0x7F && c != '#' && c != '|' && c != '"';
}

// What the shared lexer leaves: comments, '|' and words.
void LexRest(Lexer<Tok>& x) {
    const char c = x.text[x.at];
    if (c == '#') {
        x.SkipLine();
    } else if (c == '|') {
        x.Push(Tok::Pipe, "|");
        ++x.at;
    } else if (IsWordChar(c)) {
        std::size_t start = x.at;
        while (x.at < x.text.size() && IsWordChar(x.text[x.at])) ++x.at;
        x.Push(Tok::Word, x.text.substr(start, x.at - start));
    } else {
        throw ScriptError(x.line, "unexpected control character " +
                                      std::to_string(static_cast<unsigned char>(c)));
    }
}

// Names of the platform's window, dialog, control and version constants.
const std::map<std::string, long long>& Symbols() {
    static const std::map<std::string, long long> kSymbols = {
        {"WS_POPUP", 0x80000000LL},
        {"WS_CHILD", 0x40000000},
        {"WS_VISIBLE", 0x10000000},
        {"WS_DISABLED", 0x08000000},
        {"WS_CAPTION", 0x00C00000},
        {"WS_BORDER", 0x00800000},
        {"WS_DLGFRAME", 0x00400000},
        {"WS_SYSMENU", 0x00080000},
        {"WS_GROUP", 0x00020000},
        {"WS_TABSTOP", 0x00010000},
        {"DS_MODALFRAME", 0x80},
        {"DS_SETFONT", 0x40},
        {"DS_3DLOOK", 0x4},
        {"DS_CONTROL", 0x400},
        {"SS_LEFT", 0x0},
        {"SS_CENTER", 0x1},
        {"SS_RIGHT", 0x2},
        {"SS_ICON", 0x3},
        {"SS_LEFTNOWORDWRAP", 0xC},
        {"SS_NOPREFIX", 0x80},
        {"BS_PUSHBUTTON", 0x0},
        {"BS_DEFPUSHBUTTON", 0x1},
        {"IDOK", 1},
        {"IDCANCEL", 2},
        {"IDC_STATIC", -1},
        {"VOS__WINDOWS32", 0x4},
        {"VOS_NT_WINDOWS32", 0x40004},
        {"VFT_APP", 0x1},
        {"VFT_DLL", 0x2},
    };
    return kSymbols;
}

class Compiler : TokenReader<Tok> {
public:
    Compiler(std::vector<Token> tokens, std::string baseDir)
        : TokenReader(std::move(tokens), "the end of the script"), baseDir_(std::move(baseDir)) {}

    void Run() {
        while (Peek().kind != Tok::End) {
            const Token& kw = Word("a resource");
            if (kw.text == "language") {
                language_ = static_cast<std::uint16_t>(Number("a language", 0, 0xFFFF));
            } else if (kw.text == "string") {
                std::uint16_t id = Id();
                Add(ResourceType::String, id, String("the string's text"), kw.line);
            } else if (kw.text == "typelib") {
                std::uint16_t id = Id();
                TypeLib(id, kw.line);
            } else if (kw.text == "bitmap") {
                std::uint16_t id = Id();
                PixelArt art = Picture(false);
                Add(ResourceType::Bitmap, id, BuildBitmapFile(art), kw.line);
            } else if (kw.text == "icon") {
                std::uint16_t id = Id();
                Icon(id, kw.line);
            } else if (kw.text == "dialog") {
                std::uint16_t id = Id();
                Dialog(id, kw.line);
            } else if (kw.text == "version") {
                std::uint16_t id = Id();
                Version(id, kw.line);
            } else {
                throw ScriptError(kw.line, "unknown resource kind '" + kw.text + "'");
            }
        }
    }

    std::vector<ResourceEntry> entries;
    std::vector<std::string> dependencies;

private:
    const Token& Word(const char* what) {
        if (Peek().kind != Tok::Word) Expected(what);
        return Next();
    }
    std::string String(const char* what) {
        if (Peek().kind != Tok::String) Expected(std::string(what) + " in quotes");
        return Next().text;
    }
    // A number or a named constant.
    long long Value(const char* what) {
        const Token& tok = Word(what);
        if (auto v = ParseInteger(tok.text)) return *v;
        auto it = Symbols().find(tok.text);
        if (it == Symbols().end())
            throw ScriptError(tok.line,
                              std::string("expected ") + what + ", found '" + tok.text + "'");
        return it->second;
    }
    long long Number(const char* what, long long lo, long long hi) {
        const int line = Peek().line;
        long long v = Value(what);
        if (v < lo || v > hi)
            throw ScriptError(line, std::string(what) + " out of range: " + std::to_string(v));
        return v;
    }
    std::uint16_t Id() { return static_cast<std::uint16_t>(Number("a resource id", 1, 0xFFFF)); }
    std::int16_t Coord(const char* what) {
        return static_cast<std::int16_t>(Number(what, -32768, 32767));
    }
    // Values joined by '|'.
    std::uint32_t Style() {
        std::uint32_t v =
            static_cast<std::uint32_t>(Number("a style", -0x80000000LL, 0xFFFFFFFFLL));
        while (Peek().kind == Tok::Pipe) {
            Next();
            v |= static_cast<std::uint32_t>(Number("a style", -0x80000000LL, 0xFFFFFFFFLL));
        }
        return v;
    }
    void ExpectEnd() {
        const Token& tok = Word("'end'");
        if (tok.text != "end")
            throw ScriptError(tok.line, "expected 'end', found " + Describe(tok));
    }

    void Add(ResourceType type, std::uint16_t id, std::string bytes, int line) {
        if (!seen_.insert({static_cast<std::uint16_t>(type), id, language_}).second)
            throw ScriptError(line,
                              ResourceTypeName(type) + " " + std::to_string(id) + " defined twice");
        entries.push_back({type, id, language_, std::move(bytes)});
    }

    void TypeLib(std::uint16_t id, int line) {
        const std::string name = String("a file name");
        const std::string path = !name.empty() && name[0] == '/' ? name : baseDir_ + "/" + name;
        auto text = ReadTextFile(path);
        if (!text) throw ScriptError(line, text.message());
        dependencies.push_back(path);
        auto description = ParseTypeLibraryDescription(*text, path);
        if (!description) throw ScriptError(line, description.message(), true);
        auto bytes = typelib::SerializeTypeLibrary(description->lib);
        if (!bytes) throw ScriptError(line, path + ": " + bytes.message(), true);
        Add(ResourceType::TypeLib, id, std::move(*bytes), line);
    }

    // WIDTH HEIGHT, then HEIGHT rows of WIDTH pixels, then 'end'.
    PixelArt Picture(bool transparency) {
        PixelArt art;
        art.width = static_cast<int>(Number("a width", 1, 256));
        art.height = static_cast<int>(Number("a height", 1, 256));
        for (int y = 0; y < art.height; ++y) {
            const Token& row = Word("a row of pixels");
            if (static_cast<int>(row.text.size()) != art.width)
                throw ScriptError(row.line, "a row of " + std::to_string(row.text.size()) +
                                                " pixels; the picture is " +
                                                std::to_string(art.width) + " wide");
            for (char c : row.text) {
                int index = c == '.' && transparency ? -1 : base::HexDigitValue(c);
                if (c != '.' && index < 0)
                    throw ScriptError(row.line, std::string("bad pixel '") + c + "'");
                if (c == '.' && !transparency)
                    throw ScriptError(row.line, "a bitmap has no transparent pixels");
                art.pixels.push_back(index);
            }
        }
        ExpectEnd();
        return art;
    }

    void Icon(std::uint16_t id, int line) {
        std::vector<PixelArt> images;
        for (;;) {
            const Token& tok = Word("'image' or 'end'");
            if (tok.text == "end") break;
            if (tok.text != "image")
                throw ScriptError(tok.line, "expected 'image' or 'end', found " + Describe(tok));
            images.push_back(Picture(true));
        }
        if (images.empty()) throw ScriptError(line, "an icon needs at least one image");
        Add(ResourceType::Icon, id, BuildIconFile(images), line);
    }

    void Dialog(std::uint16_t id, int line) {
        DialogTemplate d{};
        d.x = Coord("x");
        d.y = Coord("y");
        d.cx = Coord("a width");
        d.cy = Coord("a height");
        for (;;) {
            const Token& kw = Word("a dialog statement");
            if (kw.text == "end") break;
            if (kw.text == "style") {
                d.style = Style();
            } else if (kw.text == "caption") {
                d.caption = String("a caption");
            } else if (kw.text == "font") {
                d.pointSize = static_cast<std::uint16_t>(Number("a point size", 1, 0xFFFF));
                d.fontName = String("a font name");
            } else if (kw.text == "static" || kw.text == "button" || kw.text == "icon") {
                DialogItem item{};
                item.kind = kw.text == "static"   ? DialogItem::Kind::Static
                            : kw.text == "button" ? DialogItem::Kind::Button
                                                  : DialogItem::Kind::Icon;
                item.id = static_cast<std::int16_t>(Number("a control id", -32768, 32767));
                item.x = Coord("x");
                item.y = Coord("y");
                item.cx = Coord("a width");
                item.cy = Coord("a height");
                item.style = Style();
                if (item.kind == DialogItem::Kind::Icon)
                    item.text = std::to_string(Number("an icon id", 1, 0xFFFF));
                else
                    item.text = String("the control's text");
                d.items.push_back(std::move(item));
            } else {
                throw ScriptError(kw.line, "unknown dialog statement '" + kw.text + "'");
            }
        }
        std::string bytes = SerializeDialogTemplate(d);
        if (bytes.empty()) throw ScriptError(line, "dialog too large");
        Add(ResourceType::Dialog, id, std::move(bytes), line);
    }

    void Version(std::uint16_t id, int line) {
        VersionInfo v{};
        std::set<std::string> keys;
        for (;;) {
            const Token& kw = Word("a version statement");
            if (kw.text == "end") break;
            if (kw.text == "fileversion" || kw.text == "productversion") {
                std::uint16_t* parts = kw.text == "fileversion" ? v.fileVersion : v.productVersion;
                for (int i = 0; i < 4; ++i)
                    parts[i] = static_cast<std::uint16_t>(Number("a version part", 0, 0xFFFF));
            } else if (kw.text == "fileos") {
                v.fileOS = Style();
            } else if (kw.text == "filetype") {
                v.fileType = Style();
            } else if (kw.text == "translation") {
                v.language = static_cast<std::uint16_t>(Number("a language", 0, 0xFFFF));
                v.codePage = static_cast<std::uint16_t>(Number("a code page", 0, 0xFFFF));
            } else if (kw.text == "value") {
                std::string key = String("a key");
                std::string value = String("a value");
                if (!keys.insert(key).second)
                    throw ScriptError(kw.line, "version value " + key + " given twice");
                v.strings.emplace_back(std::move(key), std::move(value));
            } else {
                throw ScriptError(kw.line, "unknown version statement '" + kw.text + "'");
            }
        }
        std::string bytes = SerializeVersionInfo(v);
        if (bytes.empty()) throw ScriptError(line, "version block too large");
        Add(ResourceType::Version, id, std::move(bytes), line);
    }

    std::string baseDir_;
    std::uint16_t language_ = 0x0409;
    std::set<std::tuple<std::uint16_t, std::uint16_t, std::uint16_t>> seen_;
};

}  // namespace

base::Result<std::string> ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return base::FailSystem(path + ": " + std::strerror(errno), errno);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return base::Fail(path + ": read failed");
    return buffer.str();
}

base::Result<CompiledScript> CompileResourceScript(const std::string& text, const std::string& file,
                                                   const std::string& baseDir) {
    try {
        Compiler compiler(Lexer<Tok>(text).Run(LexRest), baseDir.empty() ? "." : baseDir);
        compiler.Run();
        return CompiledScript{std::move(compiler.entries), std::move(compiler.dependencies)};
    } catch (const ScriptError& e) {
        return base::Fail(e.located ? e.what()
                                    : file + ":" + std::to_string(e.line) + ": " + e.what());
    }
}

std::string GenerateSectionSource(const std::string& table, const std::string& symbol) {
    std::string out =
        "// Generated by rescomp: the module's resource table in its own section, where\n"
        "// readers of the module file find it without loading the module.\n"
        "__attribute__((section(\"" +
        std::string(kResourceSectionName) + "\"), used, aligned(8)))\nconst unsigned char " +
        symbol + "[" + std::to_string(table.size()) + "] = {";
    static const char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (i % 16 == 0) out += "\n   ";
        auto b = static_cast<unsigned char>(table[i]);
        out += " 0x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
        out += ',';
    }
    out += "\n};\n";
    return out;
}

}  // namespace rescomp
