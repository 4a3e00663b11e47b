// Not read yet: this container reader lands with the container work.
#include "probe/readers.h"

void read_riff_chunk() {}
