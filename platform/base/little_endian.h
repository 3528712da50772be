// Little-endian integers in byte buffers, the order of every binary format we read and write
// (bitmaps, type libraries, module resources, persisted streams). `Byte` is char, signed char or
// unsigned char; the caller makes sure the bytes are there.
#pragma once

#include <cstdint>

namespace base {

template <typename Byte>
constexpr std::uint16_t GetLe16(const Byte* at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(at[0]) |
                                      static_cast<std::uint8_t>(at[1]) << 8);
}

template <typename Byte>
constexpr std::uint32_t GetLe32(const Byte* at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(at[0])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(at[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(at[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(at[3])) << 24;
}

template <typename Byte>
constexpr void PutLe16(Byte* at, std::uint16_t v) {
    at[0] = static_cast<Byte>(v & 0xFF);
    at[1] = static_cast<Byte>(v >> 8);
}

template <typename Byte>
constexpr void PutLe32(Byte* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<Byte>((v >> (8 * i)) & 0xFF);
}

}  // namespace base
