// The computer port: the facts the report's computer block carries (BIOS,
// operating system, architecture, product, model), as each platform finds
// them. The block is written from them alone.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sysinfo/info_ui.h"

namespace sysinfo {

// One record of each kind the block describes. A fact that could not be read
// is absent (its line is left out); one that is known to be empty is "".
struct OsFacts {
  std::optional<std::wstring> computer_name;
  std::optional<std::wstring> caption;
  std::optional<std::wstring> version;
  std::optional<std::wstring> max_process_memory;  // in KiB, decimal
};

struct ProductFacts {
  std::optional<std::wstring> identifying_number;
  std::optional<std::wstring> version;
};

struct SystemFacts {
  std::optional<std::wstring> model;
  std::optional<std::wstring> manufacturer;
};

// Each group is absent when its source could not be asked at all, and holds
// one entry per record found otherwise.
struct ComputerFacts {
  std::optional<std::vector<std::wstring>> bios_versions;  // one joined text per BIOS
  std::optional<std::vector<OsFacts>> operating_systems;
  bool is_64bit_os = false;
  std::optional<std::vector<ProductFacts>> products;
  std::wstring model_sku;  // family, version and SKU; "" when unknown
  std::optional<std::vector<SystemFacts>> systems;
};

class ComputerFactsSource {
 public:
  virtual ~ComputerFactsSource() = default;
  // Never fails: what can't be read is left out of the facts.
  virtual ComputerFacts Read() = 0;
};

// The block: lines "label=value", each preceded by CR LF; empty when nothing
// is known.
std::wstring FormatComputerBlock(const ComputerFacts& facts);

// Shows "Getting Hardware Info", then the block of `source`'s facts.
std::wstring CollectComputerBlock(ComputerFactsSource& source, InfoUi& ui);

// This platform's source. `ui` gets the chance to process pending messages
// while it reads and must outlive the source.
std::unique_ptr<ComputerFactsSource> MakeComputerFactsSource(InfoUi& ui);

}  // namespace sysinfo
