#pragma once
// Names of the interface's enumeration members, for showing record fields to people and scripts.
// Windows-free: the values are those of the interface's type library.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ksconfig {

struct EnumMember {
    std::string_view name;
    std::uint32_t value;
};

// Tables in type-library order.
const std::vector<EnumMember>& ConfigFlagNames();    // _KSCNFGFLAG
const std::vector<EnumMember>& ConfigModeNames();    // _KSCNFGMODE
const std::vector<EnumMember>& TransferNames();      // _KSTRANSFER
const std::vector<EnumMember>& CopyFlagNames();      // _KSCPYFLAG

// The member names a combined value is made of, in table order. A member whose bits are all
// set is named unless a wider named member already covers its bits (so 0x1FF is
// KSCNFGFLAG_ALL, not nine type names, and KSTRANSFER_TIFF hides its capability bits). Bits no
// member covers come last as one hexadecimal number; a value of 0 gives the member whose value
// is 0, if any, or "0".
std::vector<std::string> DecodeBits(std::uint32_t value, const std::vector<EnumMember>& table);

// The bits of `value` that no member of `table` names: a value with any is no value of the
// enumeration (the store keeps it all the same).
std::uint32_t UndefinedBits(std::uint32_t value, const std::vector<EnumMember>& table);

// The names joined with "|".
std::string JoinNames(const std::vector<std::string>& names);

// "0x0000000a": how numbers of flag fields are shown.
std::string Hex32(std::uint32_t value);

// The profile type filter of `profiles --type`: images, text, pdf, email, fax, copy, store,
// docs, sti, all. Empty optional for any other word.
std::optional<std::uint32_t> ProfileTypeFilter(std::string_view word);

}  // namespace ksconfig
