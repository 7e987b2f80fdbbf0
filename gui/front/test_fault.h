// A failure planted by a test (gui_test_control_fail_next), taken by the next public operation
// on that control. Lets the application's reports be tested without a failing window system.
#pragma once

#include <cstdint>

#include "core/trace.h"

// The planted code if one waits for control `id` (and forgets it), otherwise GUI_ERROR_NONE.
ErrorCode test_fault_take(uint32_t id);
