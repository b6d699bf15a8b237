// Console line input: the line editor behind std_input.
#pragma once

#include "runtime/text_stream.h"

namespace zuva {

// Set once the console's input has ended (end of file, hang-up, failed read, Ctrl+C, Ctrl+D on
// an empty answer); stays set.
extern bool input_ended;
// Set when the input ended because Ctrl+C was typed at a question.
extern bool input_interrupted;

// transfer_op of the console's input streams; always 0.
int console_read(TextStream& stream);

}  // namespace zuva
