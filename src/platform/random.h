// Random bytes from the operating system's generator, for secrets the
// client makes itself (the web page's access key). Called from any thread.
#pragma once

#include <cstddef>

namespace platform {

// Fills `count` bytes; false (the system's code kept) when the generator
// cannot be read.
bool RandomBytes(void* buffer, size_t count);

}  // namespace platform
