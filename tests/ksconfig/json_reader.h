#pragma once
// A small JSON reader for checking ksconfig's --json output: parses a whole document or fails.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kstest {

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json& operator[](const std::string& name) const;
    const Json& operator[](std::size_t index) const;
    bool Has(const std::string& name) const { return members.count(name) != 0; }
};

// Empty optional when `text` is not exactly one JSON value (white space around it allowed).
std::optional<Json> ParseJson(const std::string& text);

}  // namespace kstest
