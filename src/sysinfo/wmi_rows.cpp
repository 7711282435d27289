#include "sysinfo/wmi_rows.h"

#include <cwctype>

namespace sysinfo {
namespace {

class RowItem : public WmiItem {
 public:
  explicit RowItem(const WmiRow& row) : row_(row) {}
  std::optional<WmiValue> Get(const std::wstring& name) override {
    for (const auto& [key, value] : row_) {
      if (SameWmiName(key, name)) return value;
    }
    return std::nullopt;
  }

 private:
  WmiRow row_;
};

class RowWalk : public WmiEnumerator {
 public:
  explicit RowWalk(const std::vector<WmiRow>& rows) : rows_(rows) {}
  std::unique_ptr<WmiItem> Next() override {
    if (next_ >= rows_.size()) return nullptr;
    return std::make_unique<RowItem>(rows_[next_++]);
  }

 private:
  const std::vector<WmiRow>& rows_;
  size_t next_ = 0;
};

}  // namespace

bool SameWmiName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

std::unique_ptr<WmiEnumerator> WmiRowsResultSet::Enumerate() {
  return std::make_unique<RowWalk>(rows_);
}

}  // namespace sysinfo
