// Writes the built-in bitmap header template to the file named on the command line, so that the
// shipped "bmphead1" holds exactly the bytes built into the program.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "panel/bitmap_template.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_bmphead1 OUTPUT\n");
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::fprintf(stderr, "write_bmphead1: cannot create %s: %s\n", argv[1],
                     std::strerror(errno));
        return 1;
    }
    const auto& h = panel::kDefaultBitmapHeader;
    const bool written = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    const int err = errno;
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "write_bmphead1: cannot write %s: %s\n", argv[1],
                     std::strerror(written ? errno : err));
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
