#include "server/pure/registration_script.h"

#include <optional>

namespace ks::rgs {
namespace {

// Deeper nesting than any registration needs; bounds the recursion on hostile text.
constexpr int kMaxDepth = 64;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

ParseError MakeError(std::string_view source, std::size_t offset, std::string message) {
    ParseError error;
    error.message = std::move(message);
    error.offset = offset;
    for (std::size_t i = 0; i < offset && i < source.size(); ++i) {
        if (source[i] == '\n') {
            ++error.line;
            error.column = 1;
        } else {
            ++error.column;
        }
    }
    return error;
}

// The script with its replacements put in, and for each character of it (and its end) the
// offset in the original text it came from, so that errors point at what the author wrote.
struct Expanded {
    std::string text;
    std::vector<std::size_t> origin;
};

std::variant<Expanded, ParseError> Expand(std::string_view source, const Replacements& replacements) {
    Expanded out;
    out.text.reserve(source.size());
    out.origin.reserve(source.size() + 1);
    for (std::size_t i = 0; i < source.size(); ++i) {
        char c = source[i];
        if (c == '\0') return MakeError(source, i, "NUL character in script");
        if (c != '%') {
            out.text.push_back(c);
            out.origin.push_back(i);
            continue;
        }
        std::size_t close = source.find('%', i + 1);
        if (close == std::string_view::npos) return MakeError(source, i, "unterminated replacement: missing '%'");
        std::string_view name = source.substr(i + 1, close - i - 1);
        if (name.empty()) {
            out.text.push_back('%');
            out.origin.push_back(i);
        } else {
            const std::string* value = nullptr;
            for (const auto& [candidate, text] : replacements) {
                if (SameText(candidate, name)) {
                    value = &text;
                    break;
                }
            }
            if (value == nullptr) {
                if (name.find('\0') != std::string_view::npos) {
                    return MakeError(source, i + 1 + name.find('\0'), "NUL character in script");
                }
                return MakeError(source, i, "unknown replacement %" + std::string(name) + "%");
            }
            out.text += *value;
            out.origin.insert(out.origin.end(), value->size(), i);
        }
        i = close;
    }
    out.origin.push_back(source.size());
    return out;
}

enum class TokenKind { Word, Quoted, OpenBrace, CloseBrace, Equals, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;
    std::size_t pos = 0;  // in the expanded text
};

const char* Describe(TokenKind kind) {
    switch (kind) {
        case TokenKind::Word: return "a name";
        case TokenKind::Quoted: return "a quoted string";
        case TokenKind::OpenBrace: return "'{'";
        case TokenKind::CloseBrace: return "'}'";
        case TokenKind::Equals: return "'='";
        case TokenKind::End: return "the end of the script";
    }
    return "?";
}

class Parser {
public:
    Parser(std::string_view source, const Expanded& expanded) : source_(source), expanded_(expanded) {}

    std::variant<Script, ParseError> Run() {
        if (!Tokenize()) return *error_;
        Script script;
        for (;;) {
            const Token& root = Next();
            if (root.kind == TokenKind::End) break;
            if (root.kind != TokenKind::Word) return Fail(root, std::string("expected the root key HKCR, found ") + Describe(root.kind));
            if (!SameText(root.text, "HKCR") && !SameText(root.text, "HKEY_CLASSES_ROOT")) {
                return Fail(root, "unsupported root key '" + root.text + "' (only HKCR)");
            }
            const Token& open = Next();
            if (open.kind != TokenKind::OpenBrace) return Fail(open, std::string("expected '{' after the root key, found ") + Describe(open.kind));
            if (!Body(script.keys, 1)) return *error_;
        }
        return script;
    }

private:
    bool Tokenize() {
        const std::string& text = expanded_.text;
        std::size_t i = 0;
        for (;;) {
            while (i < text.size() && IsSpace(text[i])) ++i;
            Token token;
            token.pos = i;
            if (i == text.size()) {
                tokens_.push_back(std::move(token));
                return true;
            }
            char c = text[i];
            if (c == '}' || c == '=') {
                token.kind = c == '}' ? TokenKind::CloseBrace : TokenKind::Equals;
                ++i;
            } else if (c == '\'') {
                token.kind = TokenKind::Quoted;
                ++i;
                // Two quotes in a row stand for one quote inside the string.
                for (;;) {
                    if (i == text.size()) {
                        error_ = MakeError(source_, expanded_.origin[token.pos], "unterminated quoted string");
                        return false;
                    }
                    if (text[i] == '\'') {
                        if (i + 1 < text.size() && text[i + 1] == '\'') {
                            token.text.push_back('\'');
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    token.text.push_back(text[i++]);
                }
            } else {
                // A bare word runs to the next white space, so a key named {guid} keeps its braces
                // and only a lone "{" opens a block.
                std::size_t start = i;
                while (i < text.size() && !IsSpace(text[i])) ++i;
                token.text.assign(text, start, i - start);
                token.kind = token.text == "{" ? TokenKind::OpenBrace : TokenKind::Word;
            }
            tokens_.push_back(std::move(token));
        }
    }

    const Token& Next() { return tokens_[next_ < tokens_.size() - 1 ? next_++ : next_]; }
    const Token& Peek() const { return tokens_[next_]; }

    ParseError Fail(const Token& at, std::string message) {
        error_ = MakeError(source_, expanded_.origin[at.pos], std::move(message));
        return *error_;
    }

    static bool IsKeyword(const Token& t, std::string_view word) {
        return t.kind == TokenKind::Word && SameText(t.text, word);
    }

    static std::optional<KeyFlag> FlagOf(const Token& t) {
        if (IsKeyword(t, "NoRemove")) return KeyFlag::NoRemove;
        if (IsKeyword(t, "ForceRemove")) return KeyFlag::ForceRemove;
        if (IsKeyword(t, "Delete")) return KeyFlag::Delete;
        return std::nullopt;
    }

    // "= s 'text'", the equals sign already read.
    bool TypedString(std::string& out) {
        const Token& type = Next();
        if (type.kind != TokenKind::Word) {
            Fail(type, std::string("expected the value type s, found ") + Describe(type.kind));
            return false;
        }
        if (type.text != "s") {
            if (type.text == "d" || type.text == "b" || type.text == "m") {
                Fail(type, "value type '" + type.text + "' is not supported (only s)");
            } else {
                Fail(type, "unknown value type '" + type.text + "'");
            }
            return false;
        }
        const Token& text = Next();
        if (text.kind != TokenKind::Quoted) {
            Fail(text, std::string("expected a quoted string, found ") + Describe(text.kind));
            return false;
        }
        out = text.text;
        return true;
    }

    // The entries of one block, up to and including its closing brace.
    bool Body(std::vector<Key>& keys, int depth) {
        for (;;) {
            const Token& first = Next();
            if (first.kind == TokenKind::CloseBrace) return true;
            if (first.kind == TokenKind::End) {
                Fail(first, "missing '}' at the end of the script");
                return false;
            }
            if (IsKeyword(first, "val")) {
                const Token& name = Next();
                if (name.kind != TokenKind::Word && name.kind != TokenKind::Quoted) {
                    Fail(name, std::string("expected a value name after val, found ") + Describe(name.kind));
                    return false;
                }
                NamedValue value;
                value.name = name.text;
                const Token& equals = Next();
                if (equals.kind != TokenKind::Equals) {
                    Fail(equals, std::string("expected '=' after the value name, found ") + Describe(equals.kind));
                    return false;
                }
                if (!TypedString(value.text)) return false;
                if (values_.empty()) {
                    Fail(first, "a value needs a key: HKCR itself takes no values");
                    return false;
                }
                values_.back()->push_back(std::move(value));
                continue;
            }
            Key key;
            const Token* name = &first;
            if (std::optional<KeyFlag> flag = FlagOf(first)) {
                key.flag = *flag;
                name = &Next();
                if (FlagOf(*name) || IsKeyword(*name, "val")) {
                    Fail(*name, "'" + name->text + "' after '" + first.text + "': one flag per key, and values take none");
                    return false;
                }
            }
            if (name->kind != TokenKind::Word && name->kind != TokenKind::Quoted) {
                Fail(*name, std::string("expected a key name, found ") + Describe(name->kind));
                return false;
            }
            if (name->text.empty()) {
                Fail(*name, "empty key name");
                return false;
            }
            key.name = name->text;
            if (Peek().kind == TokenKind::Equals) {
                Next();
                if (!TypedString(key.defaultText)) return false;
                key.hasDefault = true;
            }
            if (Peek().kind == TokenKind::OpenBrace) {
                const Token& open = Next();
                if (depth >= kMaxDepth) {
                    Fail(open, "keys nested too deeply");
                    return false;
                }
                values_.push_back(&key.values);
                bool ok = Body(key.children, depth + 1);
                values_.pop_back();
                if (!ok) return false;
            }
            keys.push_back(std::move(key));
        }
    }

    std::string_view source_;
    const Expanded& expanded_;
    std::vector<Token> tokens_;
    std::size_t next_ = 0;
    std::optional<ParseError> error_;
    // The value list of each open block's key, innermost last: `val` lines add to it.
    std::vector<std::vector<NamedValue>*> values_;
};

}  // namespace

std::string ParseError::Describe() const {
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

std::string DoubleQuotes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(c);
        if (c == '\'') out.push_back('\'');
    }
    return out;
}

Replacements ModuleReplacements(std::string_view modulePath, std::string_view appId) {
    return {{"MODULE", DoubleQuotes(modulePath)},
            {"MODULE_RAW", std::string(modulePath)},
            {"APPID", std::string(appId)}};
}

std::variant<Script, ParseError> ParseScript(std::string_view text, const Replacements& replacements) {
    std::variant<Expanded, ParseError> expanded = Expand(text, replacements);
    if (ParseError* error = std::get_if<ParseError>(&expanded)) return *error;
    return Parser(text, std::get<Expanded>(expanded)).Run();
}

}  // namespace ks::rgs
