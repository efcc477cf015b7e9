#pragma once
// A member of one of the interface's enumerations. Windows-free, so that text logic can name a
// field's bits without the generated header; the tables themselves are the record descriptor's.
#include <cstdint>

namespace ks {

struct EnumName {
    const char* name;
    std::uint32_t value;
};

}  // namespace ks
