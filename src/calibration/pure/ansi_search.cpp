#include "calibration/pure/ansi_search.h"

namespace ks {

std::size_t NextCharPos(std::string_view text, std::size_t pos, LeadBytePredicate isLead) {
    if (isLead != nullptr && pos + 1 < text.size() && isLead(static_cast<unsigned char>(text[pos]))) {
        return pos + 2;
    }
    return pos + 1;
}

std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from, LeadBytePredicate isLead) {
    // Byte search first (fast), then check that the hit starts a character; the character
    // walk only ever moves forward, so the whole search stays linear in the walk.
    std::size_t boundary = from;
    while (from <= text.size()) {
        const std::size_t hit = text.find(needle, from);
        if (hit == std::string_view::npos) {
            return hit;
        }
        while (boundary < hit) {
            boundary = NextCharPos(text, boundary, isLead);
        }
        if (boundary == hit) {
            return hit;
        }
        from = boundary;  // the hit lay inside a double-byte character
    }
    return std::string_view::npos;
}

std::size_t LastCharPos(std::string_view text, LeadBytePredicate isLead) {
    std::size_t last = std::string_view::npos;
    for (std::size_t pos = 0; pos < text.size(); pos = NextCharPos(text, pos, isLead)) {
        last = pos;
    }
    return last;
}

bool EndsWithChar(std::string_view text, char c, LeadBytePredicate isLead) {
    const std::size_t last = LastCharPos(text, isLead);
    return last != std::string_view::npos && last + 1 == text.size() && text[last] == c;
}

std::size_t FindLastChar(std::string_view text, char c, LeadBytePredicate isLead) {
    std::size_t found = std::string_view::npos;
    for (std::size_t pos = 0; pos < text.size(); pos = NextCharPos(text, pos, isLead)) {
        if (text[pos] == c && NextCharPos(text, pos, isLead) == pos + 1) {
            found = pos;
        }
    }
    return found;
}

std::string ReplaceAll(std::string_view text, std::string_view needle, std::string_view replacement,
                       LeadBytePredicate isLead) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = FindText(text, needle, pos, isLead);
        if (hit == std::string_view::npos) {
            break;
        }
        out.append(text.substr(pos, hit - pos));
        out.append(replacement);
        pos = hit + needle.size();
    }
    out.append(text.substr(pos));
    return out;
}

}  // namespace ks
