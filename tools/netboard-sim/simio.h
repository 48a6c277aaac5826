// Output helpers shared by the substitute's faces.
#pragma once

#include <cstddef>

// Writes all `n` bytes to `fd` (a terminal or a socket), going on after interruptions; false
// once the far end is gone. SIGPIPE is ignored by main(), so a closed socket gives false here.
bool WriteAll(int fd, const void* bytes, size_t n);
