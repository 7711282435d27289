// An IDENTIFY DEVICE block as a disk returns it, decoded into the model,
// serial number and firmware revision.
#include <algorithm>
#include <cstdint>

#include "fakes/fake_disk.h"
#include "fuzz_input.h"
#include "ident/win/procedures/hdsn.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fakes::FakeDisk disk;
  std::copy_n(data, std::min(size, disk.block.size()), disk.block.begin());
  for (std::int32_t kind : {ident::kModelNumber, ident::kSerialNumber, ident::kFirmwareRevision}) {
    const ident::WordRange words = ident::IdentifyFieldWords(kind);
    const std::wstring text = ident::DecodeIdentifyString(disk.block, words);
    fuzz::Require(text.size() <= 2u * static_cast<unsigned>(words.last - words.first + 1));
    fuzz::Require(text.empty() || (text.front() != L' ' && text.back() != L' '));
  }
  ident::HDSN hdsn(disk);
  fuzz::Require(
      hdsn.GetSerialNumber() ==
      ident::DecodeIdentifyString(disk.block, ident::IdentifyFieldWords(ident::kSerialNumber)));
  hdsn.GetModelNumber();
  hdsn.GetFirmwareRevision();
  return 0;
}
