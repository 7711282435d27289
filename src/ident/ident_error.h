// The numbered errors the disk identity reader raises to its caller.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ident {

// Carries the error's number, description and source; what() is UTF-8 text
// naming all that is set, so a scan that fails on it can show why.
class IdentError : public std::runtime_error {
 public:
  IdentError(std::int32_t number, std::wstring description, std::wstring source);

  std::int32_t number() const { return number_; }
  const std::wstring& description() const { return description_; }
  const std::wstring& source() const { return source_; }

 private:
  std::int32_t number_;
  std::wstring description_;
  std::wstring source_;
};

}  // namespace ident
