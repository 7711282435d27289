#include "resample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace app::win {
namespace {

struct Tap {
  int index;
  float weight;
};

// For each target position along one axis, the source positions it draws on
// and their weights (summing to 1).
std::vector<std::vector<Tap>> Taps(int size, int target) {
  std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(target));
  const double scale = static_cast<double>(size) / target;
  for (int i = 0; i < target; ++i) {
    auto& list = taps[static_cast<std::size_t>(i)];
    if (scale >= 1.0) {
      // The target pixel covers [begin, end) of the source.
      const double begin = i * scale, end = (i + 1) * scale;
      for (int j = static_cast<int>(std::floor(begin)); j < end && j < size; ++j) {
        const double covered = std::min<double>(end, j + 1) - std::max<double>(begin, j);
        if (covered > 0) list.push_back({j, static_cast<float>(covered / scale)});
      }
    } else {
      const double at = (i + 0.5) * scale - 0.5;
      const int left = static_cast<int>(std::floor(at));
      const float right_share = static_cast<float>(at - left);
      list.push_back({std::clamp(left, 0, size - 1), 1.0f - right_share});
      list.push_back({std::clamp(left + 1, 0, size - 1), right_share});
    }
  }
  return taps;
}

std::uint32_t Pack(const float channels[4]) {
  std::uint32_t pixel = 0;
  for (int c = 0; c < 4; ++c) {
    const long value = std::lround(std::clamp(channels[c], 0.0f, 255.0f));
    pixel |= static_cast<std::uint32_t>(value) << (8 * c);
  }
  return pixel;
}

}  // namespace

std::vector<std::uint32_t> Resample(const std::vector<std::uint32_t>& source, int width, int height,
                                    int target_width, int target_height) {
  if (width < 1 || height < 1 || target_width < 1 || target_height < 1 ||
      source.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
    return {};
  const auto across = Taps(width, target_width);
  const auto down = Taps(height, target_height);

  // Across first, into floats so the second pass rounds only once.
  std::vector<float> rows(static_cast<std::size_t>(target_width) * height * 4);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* line = &source[static_cast<std::size_t>(y) * width];
    float* out = &rows[static_cast<std::size_t>(y) * target_width * 4];
    for (int x = 0; x < target_width; ++x, out += 4) {
      for (const Tap& t : across[static_cast<std::size_t>(x)])
        for (int c = 0; c < 4; ++c)
          out[c] += t.weight * static_cast<float>((line[t.index] >> (8 * c)) & 0xFF);
    }
  }

  std::vector<std::uint32_t> result(static_cast<std::size_t>(target_width) * target_height);
  for (int y = 0; y < target_height; ++y) {
    for (int x = 0; x < target_width; ++x) {
      float channels[4] = {0, 0, 0, 0};
      for (const Tap& t : down[static_cast<std::size_t>(y)]) {
        const float* in = &rows[(static_cast<std::size_t>(t.index) * target_width + x) * 4];
        for (int c = 0; c < 4; ++c) channels[c] += t.weight * in[c];
      }
      result[static_cast<std::size_t>(y) * target_width + x] = Pack(channels);
    }
  }
  return result;
}

}  // namespace app::win
