// What the resource script and the type-library description read alike: line breaks (counted),
// blanks, "..." strings and the end of the text become tokens here; each language's lexer takes
// the rest of the characters, and its parser steps through the tokens with a TokenReader.
#pragma once

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "generators/rescomp/rescomp.h"

namespace rescomp {

// The first error of a description, at a line of it. `located`: the message already says where
// (an error inside another file the description names).
struct LineError : std::runtime_error {
    LineError(int line, const std::string& what, bool located = false)
        : std::runtime_error(what), line(line), located(located) {}
    int line;
    bool located;
};

// `Kind` is a language's enum of token kinds; both have String and End.
template <typename Kind>
struct BasicToken {
    Kind kind;
    std::string text;
    int line;
};

// Splits a text into tokens. Run() reads line breaks, spaces, tabs, carriage returns and strings
// itself and hands every other character to `rest(lexer)`, which takes at least one character
// (moving `at`) or throws a LineError.
template <typename Kind>
class Lexer {
public:
    explicit Lexer(const std::string& text) : text(text) {}

    template <typename Rest>
    std::vector<BasicToken<Kind>> Run(Rest rest) {
        while (at < text.size()) {
            const char c = text[at];
            if (c == '\n') {
                ++line;
                ++at;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++at;
            } else if (c == '"') {
                auto quoted = ReadQuotedString(text, &at);
                if (!quoted) throw LineError(line, quoted.message());
                Push(Kind::String, std::move(*quoted));
            } else {
                rest(*this);
            }
        }
        Push(Kind::End, "");
        return std::move(tokens);
    }

    void Push(Kind kind, std::string token) { tokens.push_back({kind, std::move(token), line}); }
    // Moves to the end of the line (a comment).
    void SkipLine() {
        while (at < text.size() && text[at] != '\n') ++at;
    }
    // The character `ahead` places on, or '\0' past the end.
    char Ahead(std::size_t ahead) const {
        return at + ahead < text.size() ? text[at + ahead] : '\0';
    }

    const std::string& text;
    std::size_t at = 0;
    int line = 1;
    std::vector<BasicToken<Kind>> tokens;
};

// The tokens of a text and the place a parser has reached; `end` names the end in messages
// ("the end of the file").
template <typename Kind>
class TokenReader {
public:
    using Token = BasicToken<Kind>;

    TokenReader(std::vector<Token> tokens, const char* end)
        : tokens_(std::move(tokens)), end_(end) {}

    // The token `ahead` places on; the end stays the end.
    const Token& Peek(std::size_t ahead = 0) const {
        return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
    }
    const Token& Next() {
        const Token& tok = tokens_[pos_];
        if (tok.kind != Kind::End) ++pos_;
        return tok;
    }
    // Takes the next token when it is `text` of `kind`.
    bool Accept(Kind kind, std::string_view text) {
        if (Peek().kind != kind || Peek().text != text) return false;
        ++pos_;
        return true;
    }
    std::string Describe(const Token& tok) const {
        if (tok.kind == Kind::End) return end_;
        if (tok.kind == Kind::String) return "a string";
        return "'" + tok.text + "'";
    }
    // "expected WHAT, found ..." at the next token.
    [[noreturn]] void Expected(const std::string& what) const {
        throw LineError(Peek().line, "expected " + what + ", found " + Describe(Peek()));
    }

private:
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
    const char* end_;
};

}  // namespace rescomp
