// Copies a text file to the screen line by line.
#pragma once

#include "runtime/bounded_string.h"

namespace zuva {

void list_file(const BoundedString& name);

}  // namespace zuva
