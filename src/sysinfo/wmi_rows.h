// A result set held in memory, for platforms that answer WMI's classes from
// their own sources. Property names match without regard to case, as in WMI.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sysinfo/wmi.h"

namespace sysinfo {

using WmiRow = std::vector<std::pair<std::wstring, WmiValue>>;

class WmiRowsResultSet : public WmiResultSet {
 public:
  explicit WmiRowsResultSet(std::vector<WmiRow> rows) : rows_(std::move(rows)) {}
  std::unique_ptr<WmiEnumerator> Enumerate() override;

 private:
  std::vector<WmiRow> rows_;
};

// Case-insensitive comparison of ASCII names.
bool SameWmiName(const std::wstring& a, const std::wstring& b);

}  // namespace sysinfo
