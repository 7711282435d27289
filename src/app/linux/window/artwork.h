// The window's pictures, compiled into the program from resources/artwork.
#pragma once

#include <cstddef>

namespace app::artwork {

extern const unsigned char kBackground[];  // 568 x 300 JPEG
extern const std::size_t kBackgroundSize;
extern const unsigned char kStart[];  // 199 x 56 JPEG
extern const std::size_t kStartSize;
extern const unsigned char kExit[];  // 32 x 22 JPEG
extern const std::size_t kExitSize;
extern const unsigned char kIcon[];  // 16 x 16 PNG
extern const std::size_t kIconSize;

}  // namespace app::artwork
