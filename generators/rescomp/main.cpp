// rescomp SCRIPT -o OUTPUT.cpp [--table OUTPUT.bin] [--symbol NAME] [--rc OUTPUT.rc]
// rescomp --identity DESCRIPTION.odl -o OUTPUT.h
// rescomp --client-header DESCRIPTION.odl -o OUTPUT.h
// rescomp --typelib DESCRIPTION.odl -o OUTPUT.tlb
// Compiles a resource script into the C++ source that places the module's resource table in its
// resource section; --table also writes the bare table, --rc the same resources as a script of the
// platform's resource compiler (with the files it names beside it). --identity writes the header of
// a type-library description's identities (GUIDs, ProgIDs, member ids) instead, --client-header the
// same for a Windows program's C or C++ source (the platform's headers); --typelib writes
// the type library itself as a bare file of the platform's format, the bytes of its TYPELIB
// resource, for a platform resource compiler to embed.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "generators/rescomp/rescomp.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: rescomp SCRIPT -o OUTPUT.cpp [--table OUTPUT.bin] [--symbol NAME]\n"
                 "                      [--rc OUTPUT.rc]\n"
                 "       rescomp --identity DESCRIPTION.odl -o OUTPUT.h\n"
                 "       rescomp --client-header DESCRIPTION.odl -o OUTPUT.h\n"
                 "       rescomp --typelib DESCRIPTION.odl -o OUTPUT.tlb\n");
    return 2;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "rescomp: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string script, output, table, platformScript, symbol = "lensbay_module_resources";
    bool identity = false, typelibOnly = false, client = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--identity") {
            identity = true;
        } else if (arg == "--client-header") {
            identity = client = true;
        } else if (arg == "--typelib") {
            typelibOnly = true;
        } else if ((arg == "-o" || arg == "--table" || arg == "--symbol" || arg == "--rc") &&
                   i + 1 < argc) {
            (arg == "-o"         ? output
             : arg == "--table"  ? table
             : arg == "--symbol" ? symbol
                                 : platformScript) = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else if (!arg.empty() && arg[0] != '-' && script.empty()) {
            script = arg;
        } else {
            return Usage();
        }
    }
    if (script.empty() || output.empty()) return Usage();

    const auto text = rescomp::ReadTextFile(script);
    if (!text) {
        std::fprintf(stderr, "rescomp: %s\n", text.message().c_str());
        return 1;
    }
    const std::size_t slash = script.rfind('/');
    if (identity || typelibOnly) {
        if (!table.empty() || !platformScript.empty() || (identity && typelibOnly)) return Usage();
        const auto description = rescomp::ParseTypeLibraryDescription(*text, script);
        if (!description) {
            std::fprintf(stderr, "%s\n", description.message().c_str());
            return 1;
        }
        if (typelibOnly) {
            const auto bytes = typelib::SerializeTypeLibrary(description->lib);
            if (!bytes) {
                std::fprintf(stderr, "%s: %s\n", script.c_str(), bytes.message().c_str());
                return 1;
            }
            return WriteFile(output, *bytes) ? 0 : 1;
        }
        const std::string name = slash == std::string::npos ? script : script.substr(slash + 1);
        const auto generate =
            client ? rescomp::GenerateClientHeader : rescomp::GenerateIdentityHeader;
        return WriteFile(output, generate(description->lib, description->identity, name)) ? 0 : 1;
    }
    const std::string baseDir = slash == std::string::npos ? "." : script.substr(0, slash);
    const auto compiled = rescomp::CompileResourceScript(*text, script, baseDir);
    if (!compiled) {
        std::fprintf(stderr, "%s\n", compiled.message().c_str());
        return 1;
    }
    const std::string bytes = SerializeResourceTable(compiled->entries);
    if (bytes.empty()) {
        std::fprintf(stderr, "rescomp: %s: the resources do not fit a table\n", script.c_str());
        return 1;
    }
    if (!WriteFile(output, rescomp::GenerateSectionSource(bytes, symbol))) return 1;
    if (!table.empty() && !WriteFile(table, bytes)) return 1;
    if (!platformScript.empty()) {
        // The files go beside the script, which names them relative to itself.
        const std::size_t cut = platformScript.rfind('/');
        const std::string dir = cut == std::string::npos ? "" : platformScript.substr(0, cut + 1);
        std::string stem = platformScript.substr(dir.size());
        if (const std::size_t dot = stem.rfind('.'); dot != std::string::npos) stem.resize(dot);
        const auto written = rescomp::WritePlatformScript(compiled->entries, stem);
        if (!written) {
            std::fprintf(stderr, "rescomp: %s: %s\n", script.c_str(), written.message().c_str());
            return 1;
        }
        for (const auto& [name, content] : written->files)
            if (!WriteFile(dir + name, content)) return 1;
        if (!WriteFile(platformScript, written->text)) return 1;
    }
    return 0;
}
