// The resources of Pinbus's Wine build as the platform reads them, against the native module's
// (a Winelib program built with wineg++).
//
//   pinbus_resources.exe MODULE NATIVE_OCX
//       MODULE: the Windows path of the registered placeholder (C:\pinbus\PINBUS.OCX).
//       NATIVE_OCX: the Unix path of the native module.
//
// Lists MODULE's resources with the platform's EnumResourceTypes, EnumResourceNames and
// EnumResourceLanguages, twice: from the placeholder read as a data file and from the module the
// loader maps (the .so). Each resource is turned back into the native module's form (a bitmap
// gets its file header again, an icon group and its images make an .ico file, a dialog template
// and the version block are read field by field, string tables give their strings) and must hold
// the native module's bytes. Prints the listing as `ocxhost resources NATIVE_OCX` does (the test
// compares the two), "FAIL ..." lines on standard error, and exits with the number of failures.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/com/dialog_template.h"
#include "platform/com/le_bytes.h"
#include "platform/com/module_resources.h"
#include "platform/com/utf.h"
#include "platform/com/version_info.h"

namespace {

int failures = 0;

void Fail(const std::string& what) {
    std::fprintf(stderr, "FAIL %s\n", what.c_str());
    ++failures;
}

using Key = std::tuple<ResourceType, std::uint16_t, std::uint16_t>;  // type, id, language

std::string Name(const Key& key) {
    char lang[8];
    std::snprintf(lang, sizeof lang, "0x%04x", std::get<2>(key));
    return ResourceTypeName(std::get<0>(key)) + " " + std::to_string(std::get<1>(key)) + " " + lang;
}

// One resource's bytes as the platform gives them; empty when it cannot be found.
std::string PlatformBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
    HRSRC found = FindResourceExW(module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return {};
    return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

std::string Utf8(const std::u16string& text) { return OleToUtf8(text); }

// A string of a dialog template: 0xFFFF and an ordinal, or zero-terminated UTF-16.
bool ReadSz(lebytes::Reader& r, std::u16string* text, int* ordinal) {
    *ordinal = -1;
    text->clear();
    const std::uint16_t first = r.U16();
    if (first == 0xFFFF) {
        *ordinal = r.U16();
        return r.ok();
    }
    for (std::uint16_t c = first; c != 0 && r.ok(); c = r.U16()) text->push_back(char16_t(c));
    return r.ok();
}

// DLGTEMPLATE and its DLGITEMTEMPLATEs, read field by field into the native form.
bool ReadDialog(const std::string& bytes, DialogTemplate* d, std::string* why) {
    lebytes::Reader r(bytes);
    d->style = r.U32();
    if (r.U32() != 0) return *why = "an extended style", false;
    const std::uint16_t count = r.U16();
    d->x = r.I16();
    d->y = r.I16();
    d->cx = r.I16();
    d->cy = r.I16();
    std::u16string text;
    int ordinal = -1;
    if (!ReadSz(r, &text, &ordinal) || ordinal != -1 || !text.empty())
        return *why = "a menu", false;
    if (!ReadSz(r, &text, &ordinal) || ordinal != -1 || !text.empty())
        return *why = "a class", false;
    if (!ReadSz(r, &text, &ordinal)) return *why = "truncated", false;
    d->caption = Utf8(text);
    d->pointSize = 0;
    if (d->style & DS_SETFONT) {
        d->pointSize = r.U16();
        if (!ReadSz(r, &text, &ordinal)) return *why = "truncated", false;
        d->fontName = Utf8(text);
    }
    for (std::uint16_t i = 0; i < count; ++i) {
        while (r.pos() % 4) r.U8();  // items start on a DWORD boundary
        DialogItem item{};
        item.style = r.U32();
        if (r.U32() != 0) return *why = "an item's extended style", false;
        item.x = r.I16();
        item.y = r.I16();
        item.cx = r.I16();
        item.cy = r.I16();
        item.id = static_cast<std::int16_t>(r.U16());
        int cls = -1, title = -1;
        std::u16string caption;
        if (!ReadSz(r, &text, &cls) || !ReadSz(r, &caption, &title))
            return *why = "truncated", false;
        if (r.U16() != 0) return *why = "an item's creation data", false;
        if (cls == 0x80 && title == -1) {
            item.kind = DialogItem::Kind::Button;
        } else if (cls == 0x82 && title == -1) {
            item.kind = DialogItem::Kind::Static;
        } else if (cls == 0x82) {
            item.kind = DialogItem::Kind::Icon;
            caption = Utf8ToOle(std::to_string(title));
        } else {
            return *why = "an item of class " + Utf8(text) + std::to_string(cls), false;
        }
        item.text = Utf8(caption);
        d->items.push_back(std::move(item));
    }
    if (!r.ok()) return *why = "truncated", false;
    return true;
}

// The string table of a VS_VERSIONINFO block: each key with its value, in order.
bool VersionStrings(const std::string& bytes,
                    std::vector<std::pair<std::string, std::string>>* out) {
    // Each node: u16 length, u16 value length, u16 type, key, padding, value, padding, children.
    struct Node {
        std::size_t start, end;
        std::u16string key;
        std::size_t children;  // where the children start
        std::u16string text;   // a text value
    };
    auto node = [&](std::size_t at, Node* n) {
        lebytes::Reader r(std::string_view(bytes).substr(at));
        const std::uint16_t length = r.U16(), valueLength = r.U16(), type = r.U16();
        int ordinal = 0;
        if (!ReadSz(r, &n->key, &ordinal) || length < 6 || at + length > bytes.size()) return false;
        while ((at + r.pos()) % 4) r.U8();
        n->text.clear();
        if (type == 1) {
            for (std::uint16_t i = 0; i < valueLength; ++i) {
                const std::uint16_t c = r.U16();
                if (c) n->text.push_back(char16_t(c));
            }
        } else {
            r.Bytes(valueLength);
        }
        n->start = at;
        n->end = at + length;
        // Children start on a DWORD boundary; a node without any may end before it.
        n->children = std::min((at + r.pos() + 3) & ~std::size_t{3}, n->end);
        return r.ok() && at + r.pos() <= n->end;
    };
    Node root, block, table, entry;
    if (!node(0, &root)) return false;
    for (std::size_t at = root.children; at < root.end; at = (block.end + 3) & ~std::size_t{3}) {
        if (!node(at, &block)) return false;
        if (block.key != u"StringFileInfo") continue;
        if (!node(block.children, &table)) return false;
        for (std::size_t e = table.children; e < table.end; e = (entry.end + 3) & ~std::size_t{3}) {
            if (!node(e, &entry)) return false;
            out->emplace_back(Utf8(entry.key), Utf8(entry.text));
        }
    }
    return true;
}

struct Module {
    HMODULE handle;
    std::u16string path;  // for the version functions
    std::map<Key, std::string> entries;
    std::vector<std::string> problems;
};

std::string BitmapFile(const std::string& dib) {
    lebytes::Reader r(dib);
    const std::uint32_t headerSize = r.U32();
    r.Bytes(10);
    const std::uint16_t bits = r.U16();
    r.Bytes(16);
    std::uint32_t colors = r.U32();
    if (colors == 0 && bits <= 8) colors = 1u << bits;
    lebytes::Writer w;
    w.Bytes("BM");
    w.U32(static_cast<std::uint32_t>(14 + dib.size()));
    w.U32(0);
    w.U32(14 + headerSize + 4 * colors);
    w.Bytes(dib);
    return std::move(w.str());
}

// An icon group and its images as one .ico file. The images go in the order of their ids, which
// the platform's resource compiler gives in the order of the file it was given (its group lists
// them by size).
std::string IconFile(HMODULE module, const std::string& group, WORD language,
                     std::vector<std::string>* problems) {
    lebytes::Reader r(group);
    r.U16();
    const std::uint16_t type = r.U16(), count = r.U16();
    std::map<std::uint16_t, std::string> entries;  // id -> size, colours, planes, depth, bytes
    for (std::uint16_t i = 0; i < count && r.ok(); ++i) {
        const std::string_view head = r.Bytes(12);
        entries[r.U16()] = std::string(head);
    }
    lebytes::Writer w;
    w.U16(0);
    w.U16(type);
    w.U16(static_cast<std::uint16_t>(entries.size()));
    std::uint32_t offset = 6 + 16u * static_cast<std::uint32_t>(entries.size());
    std::string images;
    for (const auto& [id, head] : entries) {
        const std::string image =
            PlatformBytes(module, MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(id), language);
        if (image.empty()) problems->push_back("ICON image " + std::to_string(id));
        w.Bytes(head);
        w.U32(offset);
        offset += static_cast<std::uint32_t>(image.size());
        images += image;
    }
    w.Bytes(images);
    return std::move(w.str());
}

std::string VersionEntry(Module& m, const std::string& raw) {
    VersionInfo v{};
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(m.path.c_str(), &unused);
    std::string block(size, '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    WORD* translation = nullptr;
    UINT length = 0;
    const char* problem = nullptr;
    if (!size || !GetFileVersionInfoW(m.path.c_str(), 0, size, block.data()))
        problem = "GetFileVersionInfoW fails";
    else if (!VerQueryValueW(block.data(), u"\\", reinterpret_cast<void**>(&fixed), &length))
        problem = "VerQueryValueW has no fixed part";
    else if (!VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length) ||
             length < 4)
        problem = "VerQueryValueW has no translation";
    else if (!VersionStrings(raw, &v.strings))
        problem = "its string table cannot be read";
    if (problem) {
        m.problems.push_back(std::string("the version block: ") + problem);
        return {};
    }
    const DWORD words[4] = {fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                            fixed->dwProductVersionMS, fixed->dwProductVersionLS};
    for (int i = 0; i < 2; ++i) {
        v.fileVersion[2 * i] = HIWORD(words[i]);
        v.fileVersion[2 * i + 1] = LOWORD(words[i]);
        v.productVersion[2 * i] = HIWORD(words[2 + i]);
        v.productVersion[2 * i + 1] = LOWORD(words[2 + i]);
    }
    v.fileOS = fixed->dwFileOS;
    v.fileType = fixed->dwFileType;
    v.language = translation[0];
    v.codePage = translation[1];
    // Each value as the platform's query gives it, by the key the block lists.
    char sub[64];
    std::snprintf(sub, sizeof sub, "\\StringFileInfo\\%04x%04x\\", v.language, v.codePage);
    for (auto& [key, value] : v.strings) {
        const std::u16string query = Utf8ToOle(sub + key);
        WCHAR* text = nullptr;
        if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text),
                            &length) ||
            Utf8(text) != value)
            m.problems.push_back("VerQueryValue of " + key + " differs from the block");
    }
    return SerializeVersionInfo(v);
}

// What the platform enumerates of a module: each type (a number, or a name kept as its text) with
// the ids and languages of its resources.
struct Found {
    ULONG_PTR number;  // 0 for a named type
    std::u16string name;
    std::vector<std::tuple<WORD, WORD>> resources;  // id, language
    LPCWSTR Type() const { return number ? MAKEINTRESOURCEW(number) : name.c_str(); }
};

BOOL CALLBACK OnType(HMODULE, LPWSTR type, LONG_PTR p) {
    auto* list = reinterpret_cast<std::vector<Found>*>(p);
    if (IS_INTRESOURCE(type))
        list->push_back({reinterpret_cast<ULONG_PTR>(type), u"", {}});
    else
        list->push_back({0, std::u16string(type), {}});
    return TRUE;
}

struct Naming {
    Found* found;
    WORD id;
};

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR p) {
    auto* naming = reinterpret_cast<Naming*>(p);
    naming->found->resources.emplace_back(naming->id, language);
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR p) {
    auto* found = reinterpret_cast<Found*>(p);
    if (!IS_INTRESOURCE(name)) {
        found->resources.emplace_back(0, 0);  // ours are all numbered: a name is reported
        return TRUE;
    }
    Naming naming{found, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name))};
    EnumResourceLanguagesW(module, type, name, OnLanguage, reinterpret_cast<LONG_PTR>(&naming));
    return TRUE;
}

// Every resource of the module, in the native form, by what the platform enumerates.
void Collect(Module& m) {
    std::vector<Found> types;
    EnumResourceTypesW(m.handle, OnType, reinterpret_cast<LONG_PTR>(&types));
    for (Found& f : types)
        EnumResourceNamesW(m.handle, f.Type(), OnName, reinterpret_cast<LONG_PTR>(&f));
    for (Found& f : types) {
        const ULONG_PTR number = f.number;
        for (auto [id, language] : f.resources) {
            if (id == 0) {
                m.problems.push_back("a resource named by text");
                continue;
            }
            const std::string raw =
                PlatformBytes(m.handle, f.Type(), MAKEINTRESOURCEW(id), language);
            auto add = [&](ResourceType t, std::uint16_t i, std::string bytes) {
                m.entries[Key{t, i, language}] = std::move(bytes);
            };
            if (f.name == u"TYPELIB") {
                add(ResourceType::TypeLib, id, raw);
            } else if (number == 2) {
                add(ResourceType::Bitmap, id, BitmapFile(raw));
            } else if (number == 14) {
                add(ResourceType::Icon, id, IconFile(m.handle, raw, language, &m.problems));
            } else if (number == 3) {
                // An icon's images: part of its group.
            } else if (number == 5) {
                DialogTemplate d{};
                std::string why;
                if (!ReadDialog(raw, &d, &why))
                    m.problems.push_back("DIALOG " + std::to_string(id) + ": " + why);
                else
                    add(ResourceType::Dialog, id, SerializeDialogTemplate(d));
            } else if (number == 6) {
                // A string table of 16 strings: block N holds the ids 16 (N - 1) to 16 N - 1.
                lebytes::Reader r(raw);
                for (int i = 0; i < 16 && r.ok(); ++i) {
                    std::u16string text;
                    for (std::uint16_t n = r.U16(); n > 0 && r.ok(); --n)
                        text.push_back(char16_t(r.U16()));
                    if (!text.empty())
                        add(ResourceType::String, static_cast<std::uint16_t>((id - 1) * 16 + i),
                            Utf8(text));
                }
            } else if (number == 16) {
                add(ResourceType::Version, id, VersionEntry(m, raw));
            } else {
                m.problems.push_back("an unexpected resource type " +
                                     (number ? std::to_string(number) : Utf8(f.name)));
            }
        }
    }
}

// The same listing as ocxhost's `resources`.
void Print(const std::vector<ResourceEntry>& native, const Module& m) {
    for (const ResourceEntry& e : native) {
        const auto found = m.entries.find(Key{e.type, e.id, e.language});
        if (found == m.entries.end()) continue;
        std::printf("%s %zu\n", Name(found->first).c_str(), found->second.size());
    }
    const auto version = m.entries.find(Key{ResourceType::Version, 1, 0x0409});
    VersionInfo v;
    if (version == m.entries.end() || !ParseVersionInfo(version->second, &v)) return;
    std::printf("file version %u.%u.%u.%u\nproduct version %u.%u.%u.%u\n", v.fileVersion[0],
                v.fileVersion[1], v.fileVersion[2], v.fileVersion[3], v.productVersion[0],
                v.productVersion[1], v.productVersion[2], v.productVersion[3]);
    std::printf("file OS 0x%08x\nfile type 0x%08x\ntranslation 0x%04x 0x%04x\n",
                static_cast<unsigned>(v.fileOS), static_cast<unsigned>(v.fileType), v.language,
                v.codePage);
    for (const auto& [key, value] : v.strings) std::printf("%s: %s\n", key.c_str(), value.c_str());
}

void Compare(const std::vector<ResourceEntry>& native, const Module& m, const char* how) {
    for (const std::string& p : m.problems) Fail(std::string(how) + ": " + p);
    std::map<Key, std::string> left = m.entries;
    for (const ResourceEntry& e : native) {
        const Key key{e.type, e.id, e.language};
        const auto found = left.find(key);
        if (found == left.end()) {
            Fail(std::string(how) + " lacks " + Name(key));
            continue;
        }
        if (found->second != e.bytes)
            Fail(std::string(how) + ": " + Name(key) + " is not the native module's (" +
                 std::to_string(found->second.size()) + " bytes, native " +
                 std::to_string(e.bytes.size()) + ")");
        left.erase(found);
    }
    for (const auto& extra : left) Fail(std::string(how) + " has more: " + Name(extra.first));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pinbus_resources.exe MODULE NATIVE_OCX\n");
        return 100;
    }
    const auto native = ReadModuleResources(argv[2]);
    if (!native) {
        std::fprintf(stderr, "%s\n", native.message().c_str());
        return 100;
    }
    const std::u16string path = Utf8ToOle(argv[1]);
    Module file{LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), path, {}, {}};
    Module loaded{LoadLibraryW(path.c_str()), path, {}, {}};
    if (!file.handle || !loaded.handle) {
        std::fprintf(stderr, "FAIL %s cannot be loaded (error %u)\n", argv[1],
                     static_cast<unsigned>(GetLastError()));
        return 100;
    }
    Collect(file);
    Collect(loaded);
    Compare(*native, file, "the placeholder");
    Compare(*native, loaded, "the loaded module");
    Print(*native, file);

    // The platform's own functions on the loaded module's resources.
    HBITMAP bitmap = LoadBitmapA(loaded.handle, MAKEINTRESOURCEA(1));
    BITMAP bmp{};
    if (!bitmap || GetObjectA(bitmap, sizeof bmp, &bmp) != sizeof bmp || bmp.bmWidth != 24 ||
        bmp.bmHeight != 22)
        Fail("LoadBitmapA(module, 1) is not 24 x 22: " + std::to_string(bmp.bmWidth) + " x " +
             std::to_string(bmp.bmHeight));
    if (bitmap) DeleteObject(bitmap);
    if (!LoadIconW(loaded.handle, MAKEINTRESOURCEW(1))) Fail("LoadIconW(module, 1)");
    WCHAR text[32] = {};
    if (LoadStringW(loaded.handle, 100, text, 32) != 7 || std::u16string(text) != u"General")
        Fail("LoadStringW(module, 100) is not \"General\"");
    FreeLibrary(loaded.handle);
    FreeLibrary(file.handle);
    std::fflush(stdout);
    return failures;
}
