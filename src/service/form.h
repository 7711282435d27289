// The report page's post: form bodies decoded to raw bytes per field, and the
// four report fields checked before anything is stored.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "match/report.h"

namespace service {

// A post that cannot be taken; what() is a plain sentence for the sender.
struct PostError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// A post beyond the bounds of any real report (answered 413).
struct PostTooLargeError : PostError {
  using PostError::PostError;
};

using FormFields = std::vector<std::pair<std::string, std::string>>;

// application/x-www-form-urlencoded: '&'-separated name=value pairs, '+' for
// space, %XX escapes. Names and values come back as the bytes they encode
// (the page encodes windows-1252, so no character set is applied here).
// Throws PostError on a broken escape or more than kMaxFormFields fields.
FormFields DecodeUrlEncoded(std::string_view body);

// multipart/form-data with the given boundary (from the Content-Type): each
// part's name and content, as bytes. Throws PostError on a body that is not
// whole, or more than kMaxFormFields parts.
FormFields DecodeMultipart(std::string_view body, std::string_view boundary);

// The boundary parameter of a multipart Content-Type value; "" when none.
std::string MultipartBoundary(std::string_view content_type);

// The page sends four fields; a few more are tolerated, not thousands (each
// costs far more memory than the bytes that name it).
inline constexpr size_t kMaxFormFields = 64;

// The report as posted: Base64 fields verbatim, the scan id in upper case,
// the setup-log excerpt as UTF-8.
struct ReportPost {
  std::string scan_id;
  std::string drivers;    // Base64 of the windows-1252 scan data
  std::string hwid;       // Base64 of the windows-1252 hardware id
  std::string setup_log;  // UTF-8
};

inline constexpr size_t kMaxBodyBytes = 16u << 20;

// Each of drivers, hwid, scanid and setup_api_log exactly once (other
// fields are ignored), a 32-digit hexadecimal scan id, Base64 that decodes to
// a device list the reader takes without a note (every entry whole, the
// computer block there). Throws PostError naming what is wrong.
// The device list read from it goes to *report when given.
ReportPost ValidatePost(const FormFields& fields, match::Report* report = nullptr);

// True for exactly 32 hexadecimal digits.
bool IsScanId(std::string_view text);

}  // namespace service
