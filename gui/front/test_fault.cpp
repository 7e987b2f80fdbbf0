#include "gui/front/test_fault.h"

#include <atomic>

#include "gui/gui_test.h"

namespace {
// The control's identifier in the high half, the code in the low half; 0 when none is planted.
std::atomic<uint64_t> planted{0};
} // namespace

void gui_test_control_fail_next(uint32_t id, ErrorCode code) {
    planted.store(code == GUI_ERROR_NONE ? 0 : uint64_t{id} << 32 | code);
}

ErrorCode test_fault_take(uint32_t id) {
    uint64_t current = planted.load(std::memory_order_relaxed);
    if (current == 0 || uint32_t(current >> 32) != id ||
        !planted.compare_exchange_strong(current, 0)) {
        return GUI_ERROR_NONE;
    }
    return static_cast<ErrorCode>(current & 0xFFFFFFFFu);
}
