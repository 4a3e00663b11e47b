// Not read yet: this container reader lands with the container work.
#include "probe/readers.h"

void read_ciff_heap(std::uint32_t, std::uint32_t) {}
