// The board record's parser on arbitrary bytes: no crash; an error names a line; what is accepted
// writes back to the very same text (the format has one way to write each record).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "panel/board_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const base::Result<panel::RegisterRecord> r = panel::ParseBoardRecord(text);
    if (!r.ok()) {
        if (r.message().rfind("line ", 0) != 0) std::abort();
        return 0;
    }
    // Lines may come in any order; written back they come in the record's order, and read again
    // they give the same text.
    const std::string written = panel::FormatBoardRecord(*r);
    const base::Result<panel::RegisterRecord> again = panel::ParseBoardRecord(written);
    if (!again.ok() || panel::FormatBoardRecord(*again) != written) std::abort();
    if (written.size() > text.size()) std::abort();
    return 0;
}
