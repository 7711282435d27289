#include "report/wire_format.h"

#include "platform/text.h"

namespace report {
namespace {

void AppendIdList(std::wstring& out, const std::vector<std::wstring>* ids) {
  if (ids == nullptr) return;
  for (const std::wstring& id : *ids) out.append(id).push_back(L',');
}

}  // namespace

void AppendDriverEntry(std::wstring& out, std::uint32_t number, const DriverEntry& entry) {
  std::wstring device_id(entry.device_id);
  if (!device_id.empty()) device_id.push_back(L',');
  std::wstring driver_path = device_id;
  driver_path.append(L"\\").append(entry.driver_key);
  // Problem numbers are unsigned on the wire: no sign, ever.
  const std::wstring problem = std::to_wstring(entry.problem);

  out.append(kLineBreak).append(kDriverEntryPrefix).append(std::to_wstring(number));
  out.append(L"=").append(entry.name);
  const std::wstring_view fields_before_ids[] = {entry.version,
                                                 entry.provider,
                                                 entry.date,
                                                 platform::TrimSpaces(device_id),
                                                 platform::TrimSpaces(driver_path),
                                                 entry.device_class,
                                                 entry.inf_path};
  for (std::wstring_view field : fields_before_ids) out.append(kFieldSeparator).append(field);
  out.append(kFieldSeparator);
  AppendIdList(out, entry.hardware_ids);
  out.append(kFieldSeparator);
  AppendIdList(out, entry.compatible_ids);
  out.append(kFieldSeparator).append(entry.matching_id);
  out.append(kFieldSeparator).append(problem);
}

void AppendBlockLine(std::wstring& out, std::wstring_view label, std::wstring_view value) {
  out.append(kLineBreak).append(label).append(value);
}

void AppendCodePageLine(std::wstring& out, unsigned code_page) {
  AppendBlockLine(out, kCodePageLabel, std::to_wstring(code_page));
}

}  // namespace report
