#pragma once

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fakes/fake_info_ui.h"
#include "sysinfo/info_ui.h"
#include "sysinfo/win/procedures/system_probe.h"
#include "sysinfo/win/procedures/wmi.h"

namespace fakes {

// A property absent from a row is a missing property; one mapped to
// std::nullopt exists but its read fails.
using FakeWmiRow = std::map<std::wstring, std::optional<sysinfo::WmiValue>>;

struct FakeWmiClass {
  std::vector<FakeWmiRow> rows;
  bool query_fails = false;
  bool enumerate_fails = false;
};

// In-memory WMI. Namespaces are matched without regard to case, as WMI does.
// Every call lands in `log` (shared with FakeInfoUi so yields show in order).
class FakeWmi : public sysinfo::Wmi {
 public:
  // namespace path ("root\\cimv2") -> class name -> class
  std::map<std::wstring, std::map<std::wstring, FakeWmiClass>> namespaces;
  // 0-based numbers of Connect calls that fail.
  std::set<int> failing_connects;
  std::vector<std::wstring>* log = &own_log;
  std::vector<std::wstring> own_log;
  std::vector<std::optional<long>> query_flags;
  int connect_calls = 0;
  std::shared_ptr<int> live_connections = std::make_shared<int>(0);

  FakeWmiClass& Class(const std::wstring& ns, const std::wstring& name) {
    return namespaces[Lower(ns)][name];
  }

  std::unique_ptr<sysinfo::WmiConnection> Connect(const std::wstring& moniker) override {
    const int call = connect_calls++;
    log->push_back(L"connect " + moniker);
    const std::wstring prefix = L"winmgmts:\\\\.\\";
    if (failing_connects.count(call) || moniker.rfind(prefix, 0) != 0) return nullptr;
    auto ns = namespaces.find(Lower(moniker.substr(prefix.size())));
    if (ns == namespaces.end()) return nullptr;
    return std::make_unique<Connection>(*this, ns->second);
  }

  static std::wstring Lower(std::wstring s) {
    std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return std::towlower(c); });
    return s;
  }

 private:
  class Item : public sysinfo::WmiItem {
   public:
    Item(FakeWmi& wmi, FakeWmiRow row) : wmi_(wmi), row_(std::move(row)) {}
    std::optional<sysinfo::WmiValue> Get(const std::wstring& name) override {
      wmi_.log->push_back(L"read " + name);
      auto it = row_.find(name);
      if (it == row_.end()) return std::nullopt;
      return it->second;
    }

   private:
    FakeWmi& wmi_;
    FakeWmiRow row_;
  };

  class Walk : public sysinfo::WmiEnumerator {
   public:
    Walk(FakeWmi& wmi, const std::vector<FakeWmiRow>& rows) : wmi_(wmi), rows_(rows) {}
    std::unique_ptr<sysinfo::WmiItem> Next() override {
      if (next_ >= rows_.size()) return nullptr;
      return std::make_unique<Item>(wmi_, rows_[next_++]);
    }

   private:
    FakeWmi& wmi_;
    std::vector<FakeWmiRow> rows_;
    size_t next_ = 0;
  };

  class Results : public sysinfo::WmiResultSet {
   public:
    Results(FakeWmi& wmi, const FakeWmiClass* cls) : wmi_(wmi), cls_(cls) {}
    std::unique_ptr<sysinfo::WmiEnumerator> Enumerate() override {
      wmi_.log->push_back(L"enumerate");
      // An unknown class, as on Windows, fails only when walked.
      if (cls_ == nullptr || cls_->enumerate_fails) return nullptr;
      return std::make_unique<Walk>(wmi_, cls_->rows);
    }

   private:
    FakeWmi& wmi_;
    const FakeWmiClass* cls_;
  };

  class Connection : public sysinfo::WmiConnection {
   public:
    Connection(FakeWmi& wmi, const std::map<std::wstring, FakeWmiClass>& classes)
        : wmi_(wmi), classes_(classes), live_(wmi.live_connections) {
      ++*live_;
    }
    ~Connection() override { --*live_; }
    std::unique_ptr<sysinfo::WmiResultSet> ExecQuery(const std::wstring& query,
                                                     std::optional<long> flags) override {
      wmi_.log->push_back(L"query " + query);
      wmi_.query_flags.push_back(flags);
      const std::wstring prefix = L"SELECT * FROM ";
      if (query.rfind(prefix, 0) != 0) return nullptr;
      auto cls = classes_.find(query.substr(prefix.size()));
      if (cls != classes_.end() && cls->second.query_fails) return nullptr;
      return std::make_unique<Results>(wmi_, cls == classes_.end() ? nullptr : &cls->second);
    }

   private:
    FakeWmi& wmi_;
    const std::map<std::wstring, FakeWmiClass>& classes_;
    std::shared_ptr<int> live_;
  };
};

class FakeSystemProbe : public sysinfo::SystemProbe {
 public:
  bool has_export = true;
  std::int32_t flag_written = 0;
  bool call_succeeds = true;
  int finds = 0;
  int calls = 0;

  bool FindIsWow64Process() override {
    ++finds;
    return has_export;
  }
  bool CallIsWow64Process(std::int32_t& flag) override {
    ++calls;
    if (call_succeeds) flag = flag_written;
    return call_succeeds;
  }
};

}  // namespace fakes
