// The INF reader: text of one INF file -> its model lines, as Windows reads it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"

namespace catalog {

// A file that cannot be read as an INF: where and why.
struct InfError : std::runtime_error {
  InfError(int line, const std::string& reason);
  int line;  // 1-based; 0 for the file as a whole
  std::string reason;
};

// Raw bytes (UTF-16LE with BOM, UTF-8 with BOM, or ANSI/windows-1252) ->
// UTF-8 text. Throws InfError for bytes that are no text.
std::string DecodeInfText(std::string_view bytes);

// Bounds on what one INF may cost, far above any published INF (the largest
// measured is in tests/data/catalog/README.md): a file over them is refused.
constexpr size_t kMaxModelLines = 50000;     // model lines the file yields, every platform counted
constexpr size_t kMaxExpandedString = 4096;  // one field after %token% substitution

// Every model line of the INF, in file order, read as leniently as Windows
// reads it. `relative_path` becomes ModelLine::inf; `language` (a Windows
// LANGID) chooses the [Strings] section. Throws InfError for a file Windows
// would refuse, or one over the bounds above.
std::vector<ModelLine> ReadInf(std::string_view bytes, const std::string& relative_path,
                               unsigned language = 0x0409);

// The files an INF's [SourceDisksFiles] sections list for one architecture
// ("X86", "AMD64", "ARM64"...): the entries of the plain section and of the
// one decorated for the architecture, the decorated entry winning for a name
// both list. Each is a path relative to the INF's folder: the disk's path from
// [SourceDisksNames] (decorated likewise), the entry's subdirectory, its name;
// '/' separators, in the order listed. Throws InfError like ReadInf.
std::vector<std::string> SourceFiles(std::string_view bytes, const std::string& arch);

// "NTamd64.10.0...16299" -> "AMD64"; "", "NT" and "NTx86..." -> "X86".
std::string ArchOfDecoration(const std::string& decoration);

}  // namespace catalog
