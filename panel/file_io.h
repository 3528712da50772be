// The panel's file reads and writes: whole-file replacement and reads that never block. Each
// failure says which step failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/result.h"

namespace panel {

// The file operations below fail with errors of the kind base::ErrorKind::kFile: the step that
// failed (base::FileStep), the errno of the call that failed and its strerror text as the message;
// a name that is no regular file gives kOpen and what it is ("it is a FIFO, not a regular file").

// Replaces the file whole (a temporary file beside it, flushed and renamed over it; a symbolic
// link's target is replaced): on any failure the previous file stays as it was. kOpen when the
// name is not a regular file, is a file the user may not write, or no file can be made beside
// it; kWrite when writing fails.
// With LinkInPlace::kRefuse a symbolic link in the file's place is neither followed nor replaced
// (kOpen, "... is a symbolic link, which is not followed"): for files another user could redirect.
enum class LinkInPlace { kFollow, kRefuse };
base::Result<> WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size,
                              LinkInPlace links = LinkInPlace::kFollow);
// Reads never block and refuse anything but a regular file (kOpen).
// Reads up to `max` bytes from the start of the file into buffer; *got is how many. kMissing
// when the file does not exist.
base::Result<> ReadFileStart(const std::string& path, std::uint8_t* buffer, std::size_t max,
                             std::size_t* got);
// Reads the whole file. A file of more than `max` bytes is refused before anything is read
// (kTooLarge, its size as the message: "3221225472 bytes").
base::Result<> ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* out,
                             std::size_t max = ~std::size_t{0});

}  // namespace panel
