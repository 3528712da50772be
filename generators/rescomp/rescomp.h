// The resource compiler: turns a module's resource script (and the type-library description it
// names) into the resource table that the module carries in its resource section.
//
// Resource script: tokens separated by white space; "..." strings with \" \\ \n escapes; '#' starts
// a comment to the end of the line; numbers in decimal or 0x hex, with an optional '-';
// styles are names or numbers joined by '|'.
//
//   language 0x0409                     language of the resources that follow (default 0x0409)
//   string ID "TEXT"
//   typelib ID "FILE.odl"               a type-library description, relative to the script
//   bitmap ID WIDTH HEIGHT              16 colours: one row token per line, top row first, each
//     ROW...                            pixel a hex digit (index into the standard 16-colour
//   end                                 palette)
//   icon ID                             an icon group; '.' marks a transparent pixel
//     image WIDTH HEIGHT  ROW...  end
//   end
//   dialog ID X Y CX CY
//     style STYLE
//     caption "TEXT"
//     font POINTS "FACE"
//     static ID X Y CX CY STYLE "TEXT"
//     button ID X Y CX CY STYLE "TEXT"
//     icon ID X Y CX CY STYLE ICON-ID
//   end
//   version ID
//     fileversion A B C D   productversion A B C D   fileos STYLE   filetype STYLE
//     translation LANGUAGE CODEPAGE   value "KEY" "VALUE" ...
//   end
//
// Type-library description: the object description language's subset for dispinterfaces and
// coclasses: attribute lists in [ ], library, importlib("stdole32.tlb"), dispinterface with
// properties: and methods:, coclass with its [default] / [source] interfaces. Two attributes of
// our own name what the type library does not carry: progid("...") on a coclass, and
// [uuid(...), progid("..."), propertypage] coclass NAME { }; for a property page the module
// serves (its identity only; it is left out of the type library).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/resource_table.h"
#include "platform/com/typelib_format.h"

namespace rescomp {

// A picture of palette indices, row-major from the top; -1 is transparent (icons only).
struct PixelArt {
    int width = 0;
    int height = 0;
    std::vector<int> pixels;
};

// The standard 16-colour palette as 0xRRGGBB: black, maroon, green, olive, navy, purple, teal,
// silver, grey, red, lime, yellow, blue, fuchsia, aqua, white.
const std::array<std::uint32_t, 16>& StandardPalette();

// A complete 4-bit .bmp file (file header, info header, palette, bottom-up rows).
std::string BuildBitmapFile(const PixelArt& art);
// A complete .ico file holding the images in order, each 4-bit with its transparency mask.
std::string BuildIconFile(const std::vector<PixelArt>& images);

// A class the module serves, as the description names it: its coclasses and its property pages.
struct ClassIdentity {
    std::string name;
    GUID clsid{};
    std::string progid;  // "" when the description gives none
};
struct ModuleIdentity {
    std::vector<ClassIdentity> classes;  // in description order
};

// A parsed description: the type library and the classes it names (with their ProgIDs).
struct Description {
    typelib::LibraryData lib;
    ModuleIdentity identity;
};

// Parses a type-library description; `file` names it in messages ("pinbus.odl:12: ...").
base::Result<Description> ParseTypeLibraryDescription(const std::string& text,
                                                      const std::string& file);

// The C++ header of a described library's identities, for the module and its hosts alike:
// LIBID_<library>, VERMAJOR_/VERMINOR_<library>, IID_<interface> (leading '_' dropped),
// DISPID_<interface>_<member> and NAME_<interface>_<member> for each dispinterface member,
// MemberName_<interface>(DISPID) (a member's name by its id), CLSID_<class> and PROGID_<class>.
// `source` names the description in the header's opening comment.
std::string GenerateIdentityHeader(const typelib::LibraryData& lib, const ModuleIdentity& identity,
                                   const std::string& source);
// The same identities as a header for C and C++ clients of the module built with the platform's
// own headers (a Windows program): GUIDs, ProgIDs and the dispatch members' DISPIDs as macros.
std::string GenerateClientHeader(const typelib::LibraryData& lib, const ModuleIdentity& identity,
                                 const std::string& source);

// Reads a file whole; the error says "path: reason".
base::Result<std::string> ReadTextFile(const std::string& path);

// A compiled resource script: its entries in script order and the files it read.
struct CompiledScript {
    std::vector<ResourceEntry> entries;
    std::vector<std::string> dependencies;
};

// Compiles a resource script. `file` names it in messages, `baseDir` is where the files it
// names are looked up.
base::Result<CompiledScript> CompileResourceScript(const std::string& text, const std::string& file,
                                                   const std::string& baseDir);

// The C++ source that places the table in the module's resource section.
std::string GenerateSectionSource(const std::string& table, const std::string& symbol);

// The compiled entries as a script of the platform's resource compiler (wrc, rc), in their order
// and languages, so that a module it builds carries them in the platform's formats: dialogs as
// DIALOG statements, strings in string tables, the version block as VERSIONINFO; the type library,
// bitmaps and icons in files beside the script, named after `stem` ("pinbus_bitmap_1.bmp"), whose
// bytes are the entries' own. An error for a text the platform's scripts cannot hold.
struct PlatformScript {
    std::string text;
    std::vector<std::pair<std::string, std::string>> files;  // file name, bytes
};
base::Result<PlatformScript> WritePlatformScript(const std::vector<ResourceEntry>& entries,
                                                 const std::string& stem);

// Reads the "..." literal that starts at s[*i] (escapes \n, \" and \\; no line breaks) and
// moves *i past its closing quote. An error when it is unterminated or holds an unknown escape.
// Both description languages quote the same way.
base::Result<std::string> ReadQuotedString(const std::string& s, std::size_t* i);

// A decimal or 0x-hexadecimal integer with an optional '-', at most 0xFFFFFFFF in magnitude.
std::optional<long long> ParseInteger(const std::string& text);

}  // namespace rescomp
