// Builders for the small synthetic containers the reader tests feed to the
// probe: TIFF-style directories, CIFF heaps, X3F files and Leaf packets.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/byte_writer.h"

// One 12-byte directory entry. The value field holds `value`; for a SHORT
// value that fits the entry, set `short_value` so that it lands in the
// field's first two bytes whatever the byte order.
struct DirEntry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::uint32_t value;
  bool short_value = false;
};

inline void write_dir(ByteWriter& w, const std::vector<DirEntry>& entries) {
  w.u16(static_cast<std::uint16_t>(entries.size()));
  for (const DirEntry& e : entries) {
    w.u16(e.tag).u16(e.type).u32(e.count);
    if (e.short_value) {
      w.u16(static_cast<std::uint16_t>(e.value)).u16(0);
    } else {
      w.u32(e.value);
    }
  }
}

// A CIFF record: data bytes placed in the heap, or a value held in the entry
// itself (in_entry), stored in the size field.
struct CiffRecord {
  std::uint16_t type;
  std::vector<std::uint8_t> data;
  bool in_entry = false;
  std::uint32_t value = 0;
  std::uint32_t data_padding = 0;  // zero bytes placed before the data
};

// Builds a heap: record data from the heap start, then the directory, then
// the 4-byte directory offset.
inline std::vector<std::uint8_t> build_ciff_heap(const std::vector<CiffRecord>& records,
                                                 bool little = true) {
  ByteWriter w(little);
  std::vector<std::uint32_t> offsets;
  for (const CiffRecord& r : records) {
    w.zeros(r.data_padding);
    offsets.push_back(static_cast<std::uint32_t>(w.size()));
    w.raw(r.data);
  }
  std::uint32_t dir = static_cast<std::uint32_t>(w.size());
  w.u16(static_cast<std::uint16_t>(records.size()));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const CiffRecord& r = records[i];
    w.u16(r.type);
    w.u32(r.in_entry ? r.value : static_cast<std::uint32_t>(r.data.size()));
    w.u32(r.in_entry ? 0 : offsets[i]);
  }
  w.u32(dir);
  return w.bytes();
}

// A whole CRW file: header of 26 bytes, then the root heap.
inline std::vector<std::uint8_t> build_crw(const std::vector<std::uint8_t>& heap, bool little = true) {
  ByteWriter w(little);
  w.text(little ? "II" : "MM").u32(26).text("HEAPCCDR").pad_to(26).raw(heap);
  return w.bytes();
}

inline std::vector<std::uint8_t> bytes_of(std::initializer_list<std::uint32_t> words, bool little = true) {
  ByteWriter w(little);
  for (std::uint32_t v : words) w.u32(v);
  return w.bytes();
}

// A Leaf metadata packet in the given byte order.
inline std::vector<std::uint8_t> leaf_packet(const std::string& name, const std::vector<std::uint8_t>& data,
                                             bool little = false) {
  ByteWriter w(little);
  w.u32(0x504B5453).u32(0).text_fixed(name, 40).u32(static_cast<std::uint32_t>(data.size())).raw(data);
  return w.bytes();
}

inline std::vector<std::uint8_t> text_bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Wall-clock milliseconds spent in f.
template <class F>
double elapsed_ms(F&& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
