// Text colours: one PC text-mode attribute byte, sent as the shortest SGR difference.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/bounded_string.h"

namespace zuva {

extern uint8_t text_attr;
extern uint8_t sent_attr;

void set_text_colour(uint8_t colour);
void set_text_background(uint8_t colour);
void apply_attr(uint8_t attr);
void sync_text_attr();
BoundedString colour_sequence(uint8_t new_attr, uint8_t old_attr);
uint8_t parse_colour_sequence(std::string_view text, uint8_t attr);

}  // namespace zuva
