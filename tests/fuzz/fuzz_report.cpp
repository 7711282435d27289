// A report page, or the fields a page posts, arrive from other machines: any
// bytes must give a report or a ReportError.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "match/report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const match::Report report = match::ReadReportPage(bytes);
    fuzz::Require(!report.devices.empty());
  } catch (const match::ReportError&) {
  }
  // The same bytes as the two posted fields.
  const auto fields = fuzz::Fields(data, size, 2);
  try {
    match::ReadReportFields(fields[0], fields[1]);
  } catch (const match::ReportError&) {
  }
  return 0;
}
