// TEMPORARY stand-in for the default profile text logic so this branch links on its own.
// Dropped when the real implementation is merged.
#include "calibration/pure/profile_text.h"

namespace ks {

std::optional<ValueLine> ParseValueLine(std::string_view, LeadBytePredicate) { return std::nullopt; }

std::vector<std::string> JoinSectionLines(std::string_view, LeadBytePredicate) { return {}; }

std::optional<SectionTarget> ParseSectionHeader(std::string_view, LeadBytePredicate) { return std::nullopt; }

std::string FillDefaultProfile(std::string_view text, std::string_view, LeadBytePredicate) {
    return std::string(text);
}

}  // namespace ks
