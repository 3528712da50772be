// Little-endian byte writing and bounds-checked reading for the binary formats of module resources
// and type libraries, on platform/base/little_endian.h. The reader never reads past its view:
// after the first short read it stays failed and returns zeros, so a parser checks ok() once per
// record instead of after every field.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/base/little_endian.h"
#include "platform/com/wtypes.h"

namespace lebytes {

class Writer {
public:
    void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void U16(std::uint16_t v) {
        char bytes[2];
        base::PutLe16(bytes, v);
        out_.append(bytes, 2);
    }
    void U32(std::uint32_t v) {
        char bytes[4];
        base::PutLe32(bytes, v);
        out_.append(bytes, 4);
    }
    void I16(std::int16_t v) { U16(static_cast<std::uint16_t>(v)); }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Bytes(std::string_view b) { out_.append(b); }
    // A string as u16 byte count + bytes; longer strings cannot be stored and fail the writer.
    void Str(std::string_view s) {
        if (s.size() > 0xFFFF) {
            failed_ = true;
            return;
        }
        U16(static_cast<std::uint16_t>(s.size()));
        Bytes(s);
    }
    // A count stored in 16 bits; larger counts fail the writer.
    void Count16(std::size_t n) {
        if (n > 0xFFFF) failed_ = true;
        U16(static_cast<std::uint16_t>(n));
    }
    void Guid(const GUID& g) {
        U32(g.Data1);
        U16(g.Data2);
        U16(g.Data3);
        for (BYTE b : g.Data4) U8(b);
    }
    void Fail() { failed_ = true; }
    bool failed() const { return failed_; }
    std::string& str() { return out_; }

private:
    std::string out_;
    bool failed_ = false;
};

class Reader {
public:
    explicit Reader(std::string_view data) : data_(data) {}

    std::uint8_t U8() {
        if (!Need(1)) return 0;
        return static_cast<std::uint8_t>(data_[pos_++]);
    }
    std::uint16_t U16() {
        if (!Need(2)) return 0;
        const std::uint16_t v = base::GetLe16(data_.data() + pos_);
        pos_ += 2;
        return v;
    }
    std::uint32_t U32() {
        if (!Need(4)) return 0;
        const std::uint32_t v = base::GetLe32(data_.data() + pos_);
        pos_ += 4;
        return v;
    }
    std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    std::string_view Bytes(std::size_t n) {
        if (!Need(n)) return {};
        std::string_view v = data_.substr(pos_, n);
        pos_ += n;
        return v;
    }
    std::string Str() {
        std::size_t n = U16();
        return std::string(Bytes(n));
    }
    GUID Guid() {
        GUID g{};
        g.Data1 = U32();
        g.Data2 = U16();
        g.Data3 = U16();
        for (BYTE& b : g.Data4) b = U8();
        return g;
    }
    // True when `count` records of at least `minSize` bytes each can still follow: rejects
    // hostile counts before anything is allocated for them.
    bool CanHold(std::size_t count, std::size_t minSize) const {
        return ok_ && count <= (data_.size() - pos_) / (minSize ? minSize : 1);
    }
    void Fail() { ok_ = false; }
    bool ok() const { return ok_; }
    bool AtEnd() const { return ok_ && pos_ == data_.size(); }
    std::size_t pos() const { return pos_; }

private:
    bool Need(std::size_t n) {
        if (!ok_ || n > data_.size() - pos_) {
            ok_ = false;
            return false;
        }
        return true;
    }

    std::string_view data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace lebytes
