#include "json_reader.h"

#include <cstdlib>
#include <stdexcept>

namespace kstest {

namespace {

const Json& Missing() {
    static const Json none;
    return none;
}

class Parser {
public:
    explicit Parser(const std::string& text) : s_(text) {}

    Json Document() {
        Json value = Value();
        Space();
        if (pos_ != s_.size()) throw std::runtime_error("trailing text");
        return value;
    }

private:
    void Space() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) ++pos_;
    }
    char Peek() {
        Space();
        if (pos_ >= s_.size()) throw std::runtime_error("unexpected end");
        return s_[pos_];
    }
    void Expect(char c) {
        if (Peek() != c) throw std::runtime_error(std::string("expected ") + c);
        ++pos_;
    }
    bool Word(const char* w) {
        std::string word(w);
        if (s_.compare(pos_, word.size(), word) != 0) return false;
        pos_ += word.size();
        return true;
    }
    std::string String() {
        Expect('"');
        std::string out;
        while (true) {
            if (pos_ >= s_.size()) throw std::runtime_error("open string");
            char c = s_[pos_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) throw std::runtime_error("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size()) throw std::runtime_error("open escape");
            char e = s_[pos_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    if (pos_ + 4 > s_.size()) throw std::runtime_error("short \\u");
                    unsigned long code = std::strtoul(s_.substr(pos_, 4).c_str(), nullptr, 16);
                    pos_ += 4;
                    if (code >= 0x80) throw std::runtime_error("only ASCII \\u escapes are checked here");
                    out += static_cast<char>(code);
                    break;
                }
                default: throw std::runtime_error("bad escape");
            }
        }
    }
    Json Value() {
        Json v;
        char c = Peek();
        if (c == '{') {
            ++pos_;
            v.kind = Json::Kind::Object;
            if (Peek() == '}') {
                ++pos_;
                return v;
            }
            while (true) {
                std::string name = String();
                Expect(':');
                v.members[name] = Value();
                if (Peek() == ',') {
                    ++pos_;
                    continue;
                }
                Expect('}');
                return v;
            }
        }
        if (c == '[') {
            ++pos_;
            v.kind = Json::Kind::Array;
            if (Peek() == ']') {
                ++pos_;
                return v;
            }
            while (true) {
                v.items.push_back(Value());
                if (Peek() == ',') {
                    ++pos_;
                    continue;
                }
                Expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.kind = Json::Kind::String;
            v.text = String();
            return v;
        }
        if (Word("true")) {
            v.kind = Json::Kind::Bool;
            v.boolean = true;
            return v;
        }
        if (Word("false")) {
            v.kind = Json::Kind::Bool;
            return v;
        }
        if (Word("null")) return v;
        const char* start = s_.c_str() + pos_;
        char* end = nullptr;
        v.number = std::strtod(start, &end);
        if (end == start) throw std::runtime_error("not a value");
        pos_ += static_cast<std::size_t>(end - start);
        v.kind = Json::Kind::Number;
        return v;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& name) const {
    auto it = members.find(name);
    return it == members.end() ? Missing() : it->second;
}

const Json& Json::operator[](std::size_t index) const { return index < items.size() ? items[index] : Missing(); }

std::optional<Json> ParseJson(const std::string& text) {
    try {
        return Parser(text).Document();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace kstest
