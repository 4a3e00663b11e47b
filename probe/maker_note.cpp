// Not read yet: this container reader lands with the container work.
#include "probe/readers.h"

void read_maker_note(std::uint32_t, unsigned) {}
void read_preview_note(std::uint32_t, unsigned, unsigned) {}
