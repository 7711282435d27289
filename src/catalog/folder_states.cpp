#include <atomic>
#include <chrono>

#include "catalog/catalog.h"
#include "catalog/folder_walk.h"
#include "catalog/record.h"

namespace catalog {
namespace {

// A record: its length, then the folder's path, its times, its subfolders'
// names and its files' names each with its kind. Numbers are LEB128.
enum FileKind : unsigned char { kOther = 0, kInf = 1, kArchive = 2 };

using record::PutNumber;
using record::PutText;
using record::Reader;

std::int64_t SystemClock() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::atomic<std::int64_t (*)()> walk_clock{&SystemClock};

}  // namespace

void SetWalkClock(std::int64_t (*clock)()) {
  walk_clock = clock != nullptr ? clock : &SystemClock;
}

std::int64_t WalkClockNow() {
  return walk_clock.load()();
}

FolderStates::FolderStates(std::string encoded) : bytes_(std::move(encoded)) {
  // Checked whole before the walk trusts any of it: a damaged record found
  // half-way through a walk could only stop it.
  Reader all(bytes_);
  Folder scratch;
  for (; !all.AtEnd(); ++count_) {
    const size_t start = all.Position();
    all.Text();
    Parse(start, scratch);
  }
}

std::string_view FolderStates::RelativeAt(size_t offset) const {
  Reader record(Reader(std::string_view(bytes_).substr(offset)).Text());
  return record.Text();
}

const std::unordered_map<std::string_view, size_t>& FolderStates::At() const {
  std::call_once(lookup_->made, [this] {
    lookup_->at.reserve(count_);
    Reader all(bytes_);
    while (!all.AtEnd()) {
      const size_t start = all.Position();
      all.Text();
      lookup_->at.emplace(RelativeAt(start), start);
    }
  });
  return lookup_->at;
}

bool FolderStates::Find(std::string_view relative, Folder& out, size_t& cursor) const {
  size_t offset = cursor;
  if (offset >= bytes_.size() || RelativeAt(offset) != relative) {
    const auto& at = At();
    const auto it = at.find(relative);
    if (it == at.end()) return false;
    offset = it->second;
  }
  cursor = Parse(offset, out);
  return true;
}

size_t FolderStates::Parse(size_t offset, Folder& out) const {
  Reader all(std::string_view(bytes_).substr(offset));
  const std::string_view body = all.Text();
  out.record = std::string_view(bytes_).substr(offset, all.Position());
  Reader r(body);
  r.Text();
  out.mtime = static_cast<std::int64_t>(r.Number());
  out.ctime = static_cast<std::int64_t>(r.Number());
  out.subfolders.resize(r.Count());
  for (std::string_view& name : out.subfolders) name = r.Text();
  out.files.resize(r.Count());
  for (Entry& file : out.files) {
    file.name = r.Text();
    const std::uint64_t kind = r.Number();
    file.inf = kind == kInf;
    file.archive = kind == kArchive;
  }
  if (!r.AtEnd()) Reader::Damaged();
  return offset + out.record.size();
}

void FolderStates::Encode(std::string& out, std::string_view relative, std::int64_t mtime,
                          std::int64_t ctime, const std::vector<std::string>& subfolders,
                          const std::vector<Entry>& files) {
  std::string body;
  PutText(body, relative);
  PutNumber(body, static_cast<std::uint64_t>(mtime));
  PutNumber(body, static_cast<std::uint64_t>(ctime));
  PutNumber(body, subfolders.size());
  for (const std::string& name : subfolders) PutText(body, name);
  PutNumber(body, files.size());
  for (const Entry& file : files) {
    PutText(body, file.name);
    PutNumber(body, file.archive ? kArchive : file.inf ? kInf : kOther);
  }
  PutText(out, body);
}

}  // namespace catalog
