#include "platform/com/rescomp/rescomp.h"

namespace rescomp {

bool ReadQuotedString(const std::string& s, std::size_t* i, std::string* text, std::string* error) {
    std::size_t at = *i + 1;  // past the opening quote
    std::string out;
    for (;;) {
        if (at >= s.size() || s[at] == '\n') {
            *error = "unterminated string";
            return false;
        }
        if (s[at] == '"') break;
        if (s[at] == '\\' && at + 1 < s.size()) {
            const char e = s[at + 1];
            if (e == 'n') {
                out += '\n';
            } else if (e == '"' || e == '\\') {
                out += e;
            } else {
                *error = std::string("unknown escape \\") + e;
                return false;
            }
            at += 2;
        } else {
            out += s[at++];
        }
    }
    *i = at + 1;
    *text = std::move(out);
    return true;
}

}  // namespace rescomp
