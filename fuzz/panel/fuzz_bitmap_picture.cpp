// Reading a picture from arbitrary bitmap bytes: no crash, an error or a picture whose pixels
// fill its size, which the statistics, probe and profiles then take without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "panel/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const base::Result<panel::Picture> p = panel::DecodeBitmap(data, size);
    if (!p.ok()) {
        if (p.message().empty()) std::abort();
        return 0;
    }
    if (p->width < 1 || p->height < 1 ||
        p->pixels.size() !=
            static_cast<std::size_t>(p->width) * static_cast<std::size_t>(p->height)) {
        std::abort();
    }
    const panel::PictureStats s = panel::ComputeStats(*p);
    if (s.min > s.max || s.mean < s.min || s.mean > s.max) std::abort();
    (void)panel::Probe(*p, p->width - 1, p->height - 1);
    (void)panel::Probe(*p, p->width, 0);
    panel::RowProfile(*p, p->height - 1);
    panel::ColumnProfile(*p, p->width - 1);
    return 0;
}
