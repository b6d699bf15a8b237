// Runs one command line through /bin/sh -c in a child and waits for it.
#pragma once

#include <cstdint>

#include "runtime/bounded_string.h"

namespace zuva {

// The child's raw wait status, or -1 when no child could be started or waited for.
int32_t run_shell(const BoundedString& command);

}  // namespace zuva
