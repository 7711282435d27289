// The report reader: the page kestrova writes -> its devices and computer block.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace match {

struct ReportError : std::runtime_error {
  using runtime_error::runtime_error;
};
// A report beyond what any computer has (kMaxDevices); refused whole.
struct ReportTooLargeError : ReportError {
  using ReportError::ReportError;
};

// Real computers have hundreds of devices; these bounds keep a hostile
// report's cost in proportion to its size. Identifier lists and computer
// lines beyond them are cut with a note.
inline constexpr size_t kMaxDevices = 10000;
inline constexpr size_t kMaxIds = 1000;
inline constexpr size_t kMaxComputerLines = 1000;

struct InstalledDriver {
  std::string inf, version, date, provider;  // date "YYYY-MM-DD" when readable, else as written
};

struct Device {
  std::string name;
  std::vector<std::string> hardware_ids, compatible_ids;
  int problem = 0;  // -1 when the report's code cannot be read
  InstalledDriver installed;
  int number = 0;  // n of driver_n
  std::string device_id, driver_key, class_name, matching_id;
  bool NeedsAttention() const { return problem != 0 || installed.inf.empty(); }
};

struct Report {
  std::vector<std::pair<std::string, std::string>>
      computer;  // the block's label=value lines, in order
  std::vector<Device> devices;
  std::string hardware_id;         // decoded; "" when missing or damaged
  unsigned code_page = 0;          // the ANSI code page the report's bytes are in
  std::vector<std::string> notes;  // what the page would warn about
  const std::string* Computer(std::string_view label) const;  // first value or nullptr
};

// All text is UTF-8, decoded from the code page the report names
// (windows-1252 when it names none, as the page does).
Report ReadReportPage(std::string_view html_bytes);  // throws ReportError
// Bytes in a report's code page (Report::code_page) -> UTF-8. What does not
// decode is shown as U+FFFD and said in `notes`, which name the text `what`.
std::string DecodeAnsi(std::string_view bytes, unsigned code_page, const std::string& what,
                       std::vector<std::string>& notes);

Report ReadReportFields(std::string_view drivers_base64,
                        std::string_view hwid_base64);  // throws ReportError

}  // namespace match
