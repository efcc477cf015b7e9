#include "core/pure/growable_list.h"

namespace ks {

namespace {
void* DefaultRealloc(void* block, std::size_t bytes) {
    if (bytes == 0) {
        std::free(block);
        return nullptr;
    }
    return std::realloc(block, bytes);
}
}  // namespace

ReallocFn g_listRealloc = &DefaultRealloc;

}  // namespace ks
