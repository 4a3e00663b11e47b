// Reads back the Exif segment of a JPEG for tests: the first Exif APP1
// among its leading segments, its TIFF structure walked with bounds, and the
// entries of IFD0, the Exif, GPS and Interop directories by tag.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace exif_view {

struct Value {
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::vector<std::uint8_t> bytes;  // the value, in the structure's byte order
};

struct ExifView {
  int exif_segments = 0;         // Exif APP1 segments before the scan
  std::size_t first_exif_at = 0;  // where the first one starts (its marker)
  bool little = true;
  std::size_t tiff_size = 0;
  // Directory -> tag -> value; directories: "IFD0", "Exif", "GPS", "Interop".
  std::map<std::string, std::map<std::uint16_t, Value>> dirs;
  // Pointers that lead outside the structure, or at a directory that holds
  // no entry: each one is a fault.
  std::vector<std::string> bad_pointers;

  bool has(const std::string& dir, std::uint16_t tag) const {
    auto d = dirs.find(dir);
    return d != dirs.end() && d->second.count(tag);
  }
  std::uint32_t u(std::size_t at, int n, const std::vector<std::uint8_t>& b) const {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= std::uint32_t{b[at + i]} << (little ? 8 * i : 8 * (n - 1 - i));
    return v;
  }
  std::string text(const std::string& dir, std::uint16_t tag) const {
    if (!has(dir, tag)) return "<none>";
    const auto& b = dirs.at(dir).at(tag).bytes;
    std::string s(b.begin(), b.end());
    return s.substr(0, s.find('\0'));
  }
  // First rational as a number, or -1.
  double rational(const std::string& dir, std::uint16_t tag) const {
    if (!has(dir, tag)) return -1;
    const Value& v = dirs.at(dir).at(tag);
    if ((v.type != 5 && v.type != 10) || v.bytes.size() < 8 || u(4, 4, v.bytes) == 0) return -1;
    return double(u(0, 4, v.bytes)) / u(4, 4, v.bytes);
  }
  long number(const std::string& dir, std::uint16_t tag) const {
    if (!has(dir, tag)) return -1;
    const Value& v = dirs.at(dir).at(tag);
    return v.type == 3 ? long(u(0, 2, v.bytes)) : v.type == 4 ? long(u(0, 4, v.bytes)) : -1;
  }
};

inline ExifView read(const std::vector<std::uint8_t>& j) {
  ExifView view;
  std::size_t p = 2, tiff = 0, tiff_end = 0;
  while (p + 4 <= j.size() && j[p] == 0xFF && j[p + 1] != 0xDA) {
    const std::size_t len = (std::size_t{j[p + 2]} << 8) | j[p + 3];
    if (j[p + 1] == 0xE1 && p + 10 <= j.size() && std::string(j.begin() + p + 4, j.begin() + p + 9) ==
                                                       std::string("Exif\0", 5)) {
      if (view.exif_segments++ == 0) {
        view.first_exif_at = p;
        tiff = p + 10;
        tiff_end = p + 2 + len;
      }
    }
    p += 2 + len;
  }
  if (!tiff || tiff_end > j.size() || tiff_end < tiff + 8) return view;
  const std::vector<std::uint8_t> t(j.begin() + tiff, j.begin() + tiff_end);
  view.little = t[0] == 'I';
  view.tiff_size = t.size();
  struct Pending {
    std::string name;
    std::uint32_t at;
  };
  std::vector<Pending> todo = {{"IFD0", view.u(4, 4, t)}};
  const std::map<std::uint16_t, std::string> pointers = {{34665, "Exif"}, {34853, "GPS"}, {40965, "Interop"}};
  for (std::size_t k = 0; k < todo.size() && k < 8; ++k) {
    const Pending d = todo[k];
    if (d.at + 2 > t.size()) {
      view.bad_pointers.push_back(d.name + " lies outside the structure");
      continue;
    }
    const unsigned n = view.u(d.at, 2, t);
    if (n == 0 || d.at + 2 + 12 * n + 4 > t.size()) {
      view.bad_pointers.push_back(d.name + (n == 0 ? " holds no entry" : " runs past the structure"));
      continue;
    }
    auto& dir = view.dirs[d.name];
    for (unsigned i = 0; i < n; ++i) {
      const std::size_t e = d.at + 2 + 12 * i;
      Value v;
      const std::uint16_t tag = static_cast<std::uint16_t>(view.u(e, 2, t));
      v.type = static_cast<std::uint16_t>(view.u(e + 2, 2, t));
      v.count = view.u(e + 4, 4, t);
      static const unsigned kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
      const std::uint64_t size = std::uint64_t{v.count} * (v.type < 13 ? kSizes[v.type] : 0);
      const std::size_t at = size <= 4 ? e + 8 : view.u(e + 8, 4, t);
      if (at + size > t.size()) {
        view.bad_pointers.push_back(d.name + " entry " + std::to_string(tag) + " points outside the structure");
        continue;
      }
      v.bytes.assign(t.begin() + at, t.begin() + at + size);
      auto pointer = pointers.find(tag);
      if (pointer != pointers.end()) todo.push_back({pointer->second, view.u(e + 8, 4, t)});
      dir[tag] = std::move(v);
    }
  }
  return view;
}

}  // namespace exif_view
