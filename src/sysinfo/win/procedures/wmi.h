// The slice of WMI's scripting interface the computer information block and
// the SKU lookups use: bind a namespace by moniker, run a query, walk the
// result set, read a property. Every step can fail on its own; a failure is a
// null pointer or an empty optional, never an exception, so the callers can
// skip exactly the step that failed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace sysinfo {

// A property's value as WMI hands it over. Only the kinds the program turns
// into text are represented; an adapter reports any other kind as a failed read.
struct WmiNull {
  bool operator==(const WmiNull&) const = default;
};
using WmiValue =
    std::variant<WmiNull, std::wstring, std::int64_t, std::uint64_t, std::vector<std::wstring>>;

// The text a value stands for in a line: text unchanged, numbers in decimal,
// null as the empty text. A string array has no such text (empty optional).
std::optional<std::wstring> ValueText(const WmiValue& value);

// The strings of an array value joined with ","; empty optional for anything
// that is not a string array (null included).
std::optional<std::wstring> JoinedStrings(const WmiValue& value);

class WmiItem {
 public:
  virtual ~WmiItem() = default;
  // Empty when the item has no such property or the read fails.
  virtual std::optional<WmiValue> Get(const std::wstring& name) = 0;
};

class WmiEnumerator {
 public:
  virtual ~WmiEnumerator() = default;
  // The next item; null at the end, or when the walk fails part-way.
  virtual std::unique_ptr<WmiItem> Next() = 0;
};

class WmiResultSet {
 public:
  virtual ~WmiResultSet() = default;
  // Starts a walk over the items; null when the set can't be enumerated (as
  // when the class does not exist).
  virtual std::unique_ptr<WmiEnumerator> Enumerate() = 0;
};

// Query flags: return at once, and a forward-only result set.
inline constexpr long kWbemFlagReturnImmediately = 16;
inline constexpr long kWbemFlagForwardOnly = 32;

class WmiConnection {
 public:
  virtual ~WmiConnection() = default;
  // Runs a WQL query. Without flags, WMI's defaults apply. Null on failure.
  // The result set stays usable after the connection is released.
  virtual std::unique_ptr<WmiResultSet> ExecQuery(const std::wstring& query,
                                                  std::optional<long> flags) = 0;
};

class Wmi {
 public:
  virtual ~Wmi() = default;
  // Binds a namespace by its moniker ("winmgmts:\\.\root\cimv2"); null on failure.
  virtual std::unique_ptr<WmiConnection> Connect(const std::wstring& moniker) = 0;
};

}  // namespace sysinfo
