#pragma once
// Names of a field's bits, for showing record fields to people and scripts. Windows-free: the
// tables are the record descriptor's (core/record_descriptor.h), in type-library order.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/pure/enum_name.h"

namespace ksconfig {

using Names = std::span<const ks::EnumName>;

// The member names a combined value is made of, in table order. A member whose bits are all
// set is named unless a wider named member already covers its bits (so 0x1FF is
// KSCNFGFLAG_ALL, not nine type names, and KSTRANSFER_TIFF hides its capability bits). Bits no
// member covers come last as one hexadecimal number; a value of 0 gives the member whose value
// is 0, if any, or "0".
std::vector<std::string> DecodeBits(std::uint32_t value, Names table);

// The bits of `value` that no member of `table` names: a value with any is no value of the
// enumeration (the store keeps it all the same).
std::uint32_t UndefinedBits(std::uint32_t value, Names table);

// The names joined with "|", or with `separator`.
std::string JoinNames(const std::vector<std::string>& names, const char* separator = "|");

// "0x0000000a": how numbers of flag fields are shown.
std::string Hex32(std::uint32_t value);

}  // namespace ksconfig
