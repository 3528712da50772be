// The image files of a capture: "image.raw" (the bytes as read), the header template
// "bmphead1" and the 8-bit bitmap "image.bmp", all in the current directory.
#pragma once

namespace panel {

inline constexpr char kRawFile[] = "image.raw";
inline constexpr char kTemplateFile[] = "bmphead1";
inline constexpr char kBitmapFile[] = "image.bmp";
// The title of the file messages.
inline constexpr char kLensbayTitle[] = "Lensbay";

}  // namespace panel
