// The words of a command line and the values they carry.
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>

#include "platform/base/text.h"
#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/variant_format.h"
#include "tools/ocxhost/host.h"

namespace ocxhost {

std::string Trim(const std::string& s) { return std::string(base::Trim(s, " \t\n\v\f\r")); }

std::string FirstWord(const std::string& s, std::string* rest) {
    std::string t = Trim(s);
    std::size_t sp = 0;
    while (sp < t.size() && !std::isspace(static_cast<unsigned char>(t[sp]))) ++sp;
    if (rest) *rest = Trim(t.substr(sp));
    return t.substr(0, sp);
}

bool ParseInt32(const std::string& s, LONG* value) {
    if (s.empty()) return false;
    const char* begin = s.data();
    if (*begin == '+') ++begin;
    long long v = 0;
    auto [end, ec] = std::from_chars(begin, s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<LONG>(v);
    return true;
}

base::Error Error(HRESULT hr, const std::string& why) {
    // Without a reason of the command's own, the error object's text where the failed call left
    // one (Host::Execute clears it before each command, so it is never an earlier one's).
    const std::string text = why.empty() ? TakeErrorInfoText() : why;
    return base::Fail("error " + HresultToString(hr) + (text.empty() ? "" : ": " + text));
}

base::Error Refuse(const std::string& why) { return base::Fail("error " + why); }

std::string Hex(const std::string& bytes) {
    std::string out;
    base::AppendHexBytes(&out, bytes, " ");
    return out;
}

bool ParseHex(const std::string& text, std::string* bytes) {
    std::string digits;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (base::HexDigitValue(c) < 0) return false;
        digits.push_back(c);
    }
    if (digits.size() % 2) return false;
    bytes->clear();
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes->push_back(static_cast<char>(base::HexDigitValue(digits[i]) << 4 |
                                           base::HexDigitValue(digits[i + 1])));
    return true;
}

bool ParseUInt32(const std::string& s, DWORD* value) {
    unsigned long long v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > 0xFFFFFFFFull)
        return false;
    *value = static_cast<DWORD>(v);
    return true;
}

}  // namespace ocxhost
