// ksconfig's file reader on arbitrary text, as UTF-16 (odd first byte) or as 8-bit characters: whatever it reads
// without a problem must come back the same through the writer, and the writer's text must read without a problem.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ksconfig/pure/reg_text.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::u16string text;
    if (data[0] & 1) {
        for (std::size_t i = 1; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    } else {
        for (std::size_t i = 1; i < size; ++i) text += static_cast<char16_t>(data[i]);
    }
    using namespace ksconfig::regtext;
    const Document doc = Parse(text);
    for (const Problem& p : doc.problems) Check(p.line >= 1 && !p.reason.empty());
    (void)Refusal(text);
    if (!doc.problems.empty()) return 0;
    const Document again = Parse(Write(doc.keys));
    Check(again.format == Format::Reg5 && again.problems.empty() && again.keys == doc.keys);
    return 0;
}
