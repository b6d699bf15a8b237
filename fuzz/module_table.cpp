// The fuzz programs start no modules: each target sets up only the state it drives.
#include "runtime/process.h"

namespace zuva {

const Module module_table[module_count] = {};

}  // namespace zuva
