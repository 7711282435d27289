// Hints about large buffers.
#pragma once

#include <cstddef>

namespace platform {

// Tells the system that a large, not yet touched buffer will be written
// whole: on Linux it asks for transparent huge pages, so filling tens of
// megabytes costs a few hundred page faults instead of tens of thousands.
// Does nothing where there is no such hint.
void AdviseLargeBuffer(void* data, std::size_t bytes);

// For a program that runs for a moment and passes a few large strings from
// step to step (a scan's report): memory it frees stays with it for the next
// step rather than going back to the system only to be faulted in again.
// Does nothing where the allocator already works that way.
void KeepFreedMemory();

}  // namespace platform
