// Not read yet: this container reader lands with the container work.
#include "probe/readers.h"

void read_smal_header(std::uint32_t, std::int32_t) {}
