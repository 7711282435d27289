// Hints about large buffers.
#pragma once

#include <cstddef>

namespace platform {

// Tells the system that a large, not yet touched buffer will be written
// whole: on Linux it asks for transparent huge pages, so filling tens of
// megabytes costs a few hundred page faults instead of tens of thousands.
// Does nothing where there is no such hint.
void AdviseLargeBuffer(void* data, std::size_t bytes);

}  // namespace platform
