#include "ident/ident_error.h"

#include <utility>

#include "platform/codepage.h"

namespace ident {
namespace {

std::string Compose(std::int32_t number, const std::wstring& description,
                    const std::wstring& source) {
  std::wstring text = description;
  if (!source.empty()) text += text.empty() ? source : L" (" + source + L")";
  if (text.empty()) text = L"Disk identity error";
  return platform::ToUtf8(text) + " (error " + std::to_string(number) + ")";
}

}  // namespace

IdentError::IdentError(std::int32_t number, std::wstring description, std::wstring source)
    : std::runtime_error(Compose(number, description, source)),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

}  // namespace ident
