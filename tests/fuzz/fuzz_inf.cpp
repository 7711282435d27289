// INF files come from any driver folder a user points the catalog at: any
// bytes must give model lines or an InfError, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/inf_reader.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const std::vector<catalog::ModelLine> lines = catalog::ReadInf(bytes, "fuzz/x.inf");
    fuzz::Require(lines.size() <= catalog::kMaxModelLines);
    for (const catalog::ModelLine& line : lines) {
      // Every line kept offers some id: its hardware id, or compatible ids when
      // the hardware id is empty (how inbox HID INFs match every device).
      fuzz::Require(!line.ids.empty());
      bool offers = !line.ids.front().empty();
      for (std::size_t i = 0; i < line.ids.size(); ++i) {
        fuzz::Require(line.ids[i].size() <= catalog::kMaxExpandedString);
        if (i == 0) continue;
        fuzz::Require(!line.ids[i].empty());
        offers = true;
      }
      fuzz::Require(offers);
      fuzz::Require(line.inf == "fuzz/x.inf");
    }
  } catch (const catalog::InfError& e) {
    fuzz::Require(e.line >= 0 && !e.reason.empty());
  }
  return 0;
}
