// Builds small binary containers in memory for tests: integers in either
// byte order, texts, and patches at fixed offsets.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class ByteWriter {
 public:
  explicit ByteWriter(bool little_endian = true) : little_(little_endian) {}

  std::vector<std::uint8_t>& bytes() { return data_; }
  const std::vector<std::uint8_t>& bytes() const { return data_; }
  std::size_t size() const { return data_.size(); }
  void set_little_endian(bool little) { little_ = little; }

  ByteWriter& u8(std::uint8_t v) {
    data_.push_back(v);
    return *this;
  }
  ByteWriter& u16(std::uint16_t v) { return put(v, 2); }
  ByteWriter& u32(std::uint32_t v) { return put(v, 4); }
  ByteWriter& text(const std::string& s) {
    data_.insert(data_.end(), s.begin(), s.end());
    return *this;
  }
  // Text padded with zeros (or cut) to exactly n bytes.
  ByteWriter& text_fixed(const std::string& s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) data_.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
    return *this;
  }
  ByteWriter& raw(const std::vector<std::uint8_t>& b) {
    data_.insert(data_.end(), b.begin(), b.end());
    return *this;
  }
  ByteWriter& zeros(std::size_t n) {
    data_.insert(data_.end(), n, 0);
    return *this;
  }
  // Pads with zeros up to an absolute size.
  ByteWriter& pad_to(std::size_t n) {
    if (data_.size() < n) data_.resize(n, 0);
    return *this;
  }

  // Overwrites at an absolute offset, growing the buffer when needed.
  void put_u16_at(std::size_t at, std::uint16_t v) { put_at(at, v, 2); }
  void put_u32_at(std::size_t at, std::uint32_t v) { put_at(at, v, 4); }
  void put_bytes_at(std::size_t at, const void* p, std::size_t n) {
    if (data_.size() < at + n) data_.resize(at + n, 0);
    std::memcpy(data_.data() + at, p, n);
  }
  void put_text_at(std::size_t at, const std::string& s) { put_bytes_at(at, s.data(), s.size()); }

 private:
  ByteWriter& put(std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
      int shift = little_ ? 8 * i : 8 * (n - 1 - i);
      data_.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    return *this;
  }
  void put_at(std::size_t at, std::uint32_t v, int n) {
    if (data_.size() < at + n) data_.resize(at + n, 0);
    for (int i = 0; i < n; ++i) {
      int shift = little_ ? 8 * i : 8 * (n - 1 - i);
      data_[at + i] = static_cast<std::uint8_t>(v >> shift);
    }
  }

  bool little_;
  std::vector<std::uint8_t> data_;
};
