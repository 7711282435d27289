// Resizing 32-bit pixel images for artwork drawn at a different scale than the screen's.
#pragma once

#include <cstdint>
#include <vector>

namespace app::win {

// `source` holds width x height pixels (4 bytes each, rows top to bottom, no
// padding). Returns target_width x target_height pixels: when reducing, each
// one the average of the source area it covers (so thin lines and text stay
// crisp instead of breaking up); when enlarging, interpolated linearly between
// its nearest neighbours. Every byte of a pixel is treated alike. Sizes below 1
// give an empty result.
std::vector<std::uint32_t> Resample(const std::vector<std::uint32_t>& source, int width, int height,
                                    int target_width, int target_height);

}  // namespace app::win
