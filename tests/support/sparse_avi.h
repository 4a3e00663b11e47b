// A video file as cameras write them, for measuring what the probe reads
// of a file it has no use for: a RIFF "AVI " form with a small header list
// and a "movi" list of equal video chunks. Only the chunk headers are
// written; the payloads are holes, so a gigabyte costs a few megabytes of
// disk.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace sparse_avi {

struct Layout {
  std::uint32_t chunks = 20000;
  std::uint32_t chunk_bytes = 53000;  // payload of each "00dc" chunk
};

inline void put_u32(std::ofstream& out, std::uint32_t v) {
  const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
  out.write(b, 4);
}

// Writes the file; false when it could not be written. The size must stay
// below 4 GiB (RIFF sizes are 32-bit).
inline bool write(const std::string& path, const Layout& layout) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  const std::uint32_t avih = 56;
  const std::uint32_t hdrl = 4 + 8 + avih;
  const std::uint64_t movi = 4 + std::uint64_t{layout.chunks} * (8 + layout.chunk_bytes);
  const std::uint64_t riff = 4 + (8 + hdrl) + (8 + movi);
  if (riff + 8 > 0xFFFFFFFFu) return false;
  out.write("RIFF", 4);
  put_u32(out, static_cast<std::uint32_t>(riff));
  out.write("AVI LIST", 8);
  put_u32(out, hdrl);
  out.write("hdrlavih", 8);
  put_u32(out, avih);
  out.write(std::string(avih, '\0').data(), avih);
  out.write("LIST", 4);
  put_u32(out, static_cast<std::uint32_t>(movi));
  out.write("movi", 4);
  std::uint64_t at = static_cast<std::uint64_t>(out.tellp());
  for (std::uint32_t i = 0; i < layout.chunks; ++i) {
    out.seekp(static_cast<std::streamoff>(at));
    out.write("00dc", 4);
    put_u32(out, layout.chunk_bytes);
    at += 8 + layout.chunk_bytes;
  }
  // The last payload is a hole up to the end.
  if (layout.chunks > 0 && layout.chunk_bytes > 0) {
    out.seekp(static_cast<std::streamoff>(at - 1));
    out.put('\0');
  }
  return static_cast<bool>(out);
}

}  // namespace sparse_avi
