// Zip files written byte by byte, so a test can make the ones no zip tool
// would: members named outside their folder, flagged encrypted, sizes that
// lie, a bomb. Layout: PKWARE's APPNOTE.TXT (the .ZIP file format),
// sections 4.3.7 (local header), 4.3.12 (central header), 4.3.16 (end record).
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zip_maker {

struct Member {
  std::string name;
  std::string stored;  // the bytes as the archive holds them
  std::uint32_t crc = 0;
  std::uint64_t size = 0;  // the uncompressed size the headers claim
  bool deflated = false;
  bool encrypted = false;
};

inline Member Stored(const std::string& name, const std::string& data) {
  Member m{name, data};
  m.crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  m.size = data.size();
  return m;
}

// `zeros` bytes of zeros, deflated a mebibyte at a time: after a full flush
// each mebibyte deflates to the same bytes, so a gigabyte costs one.
inline Member Zeros(const std::string& name, std::uint64_t zeros) {
  constexpr uInt kChunk = 1 << 20;
  const std::string chunk(kChunk, '\0');
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("zlib");
  std::string block(64 << 10, '\0');
  auto run = [&](const std::string& in, int flush) {
    std::string out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    do {
      z.next_out = reinterpret_cast<Bytef*>(block.data());
      z.avail_out = static_cast<uInt>(block.size());
      deflate(&z, flush);
      out.append(block.data(), block.size() - z.avail_out);
    } while (z.avail_out == 0);
    return out;
  };
  run(chunk, Z_FULL_FLUSH);  // the first differs; the second is the repeating one
  const std::string repeat = run(chunk, Z_FULL_FLUSH);
  const std::uint64_t chunks = zeros / kChunk;
  Member m{name, std::string()};
  m.stored.reserve(repeat.size() * chunks + 16);
  for (std::uint64_t i = 0; i < chunks; ++i) m.stored += repeat;
  m.stored += run(std::string(), Z_FINISH);
  deflateEnd(&z);
  const uLong one = crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), kChunk);
  uLong crc = 0;
  for (std::uint64_t i = 0; i < chunks; ++i) crc = crc32_combine(crc, one, kChunk);
  m.crc = static_cast<std::uint32_t>(crc);
  m.size = chunks * kChunk;
  m.deflated = true;
  return m;
}

inline void Write(const std::string& path, const std::vector<Member>& members) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string central;
  auto put = [](std::string& to, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) to += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  // From "version needed" to the extra field's length: the same in both headers.
  auto common = [&](std::string& to, const Member& m) {
    for (std::uint64_t v : {20, m.encrypted ? 1 : 0, m.deflated ? 8 : 0, 0x0021, 0x5021})
      put(to, v, 2);  // version 2.0, flags, method, 00:01:02 on 2020-01-01
    put(to, m.crc, 4);
    put(to, m.stored.size(), 4);
    put(to, m.size, 4);
    put(to, m.name.size(), 2);
    put(to, 0, 2);
  };
  std::uint64_t offset = 0;
  for (const Member& m : members) {
    std::string local;
    put(local, 0x04034b50, 4);
    common(local, m);
    local += m.name;
    out << local << m.stored;
    put(central, 0x02014b50, 4);
    put(central, 20, 2);  // made by
    common(central, m);
    put(central, 0, 6);  // comment length, disk, internal attributes
    put(central, 0, 4);  // external attributes
    put(central, offset, 4);
    central += m.name;
    offset += local.size() + m.stored.size();
  }
  const std::uint64_t count = std::min<std::uint64_t>(members.size(), 0xFFFF);
  std::string end;
  put(end, 0x06054b50, 4);
  put(end, 0, 4);
  put(end, count, 2);
  put(end, count, 2);
  put(end, central.size(), 4);
  put(end, offset, 4);
  put(end, 0, 2);
  out << central << end;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace zip_maker
