#include "sysinfo/computer_facts.h"

#include "report/wire_format.h"

namespace sysinfo {
namespace {

void AppendFact(std::wstring& block, const wchar_t* label, const std::optional<std::wstring>& value,
                const std::wstring& suffix = std::wstring()) {
  if (value) report::AppendBlockLine(block, label, *value + suffix);
}

}  // namespace

std::wstring FormatComputerBlock(const ComputerFacts& facts) {
  std::wstring block;
  if (facts.bios_versions) {
    for (const std::wstring& version : *facts.bios_versions)
      report::AppendBlockLine(block, report::kBiosLabel, version);
  }
  if (facts.operating_systems) {
    for (const OsFacts& os : *facts.operating_systems) {
      AppendFact(block, report::kComputerNameLabel, os.computer_name);
      AppendFact(block, report::kOsCaptionLabel, os.caption);
      AppendFact(block, report::kOsVersionLabel, os.version);
      AppendFact(block, report::kMaxProcessMemoryLabel, os.max_process_memory);
      report::AppendBlockLine(
          block, facts.is_64bit_os ? report::kOsArchitecture64Line : report::kOsArchitecture32Line);
    }
  }
  if (facts.products) {
    for (const ProductFacts& product : *facts.products) {
      AppendFact(block, report::kIdentifyingNumberLabel, product.identifying_number);
      AppendFact(block, report::kProductVersionLabel, product.version);
    }
  }
  const std::wstring sku =
      facts.model_sku.empty() ? std::wstring() : L" (" + facts.model_sku + L")";
  if (facts.systems) {
    for (const SystemFacts& system : *facts.systems) {
      AppendFact(block, report::kModelLabel, system.model, sku);
      AppendFact(block, report::kManufacturerLabel, system.manufacturer);
    }
  }
  return block;
}

std::wstring CollectComputerBlock(ComputerFactsSource& source, InfoUi& ui) {
  ui.SetStatus(L"Getting Hardware Info");
  return FormatComputerBlock(source.Read());
}

}  // namespace sysinfo
