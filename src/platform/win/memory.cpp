#include "platform/memory.h"

namespace platform {

// Large pages need a privilege ordinary users lack; nothing to ask for.
void AdviseLargeBuffer(void*, std::size_t) {}

// The process heap keeps what is freed for reuse already.
void KeepFreedMemory() {}

}  // namespace platform
