#include "platform/memory.h"

namespace platform {

// Large pages need a privilege ordinary users lack; nothing to ask for.
void AdviseLargeBuffer(void*, std::size_t) {}

}  // namespace platform
