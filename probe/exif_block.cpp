#include "probe/exif_block.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "probe/probe_input.h"

namespace {

template <typename T>
void put(std::uint8_t* block, std::size_t at, T value) {
  std::memcpy(block + at, &value, sizeof value);  // host byte order
}

// Copies a text field up to its NUL; the block is already zero beyond it,
// so nothing that followed the text in the record leaks into the file.
template <std::size_t N>
void copy_text(std::uint8_t* field, const char (&text)[N]) {
  std::memcpy(field, text, text_length(text));
}
void copy_text(std::uint8_t* field, std::string_view text) { std::memcpy(field, text.data(), text.size()); }

class DirectoryWriter {
 public:
  DirectoryWriter(std::uint8_t* block, std::size_t count_at)
      : block_(block), count_at_(count_at), next_(count_at + 2) {}

  // Entry whose value is a 32-bit number or an offset.
  void add(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    put(block_, next_, tag);
    put(block_, next_ + 2, type);
    put(block_, next_ + 4, count);
    put(block_, next_ + 8, value);
    finish();
  }
  // SHORT value: the low half, then the high half.
  void add_short(std::uint16_t tag, std::uint32_t value) {
    put(block_, next_, tag);
    put(block_, next_ + 2, std::uint16_t{3});
    put(block_, next_ + 4, std::uint32_t{1});
    put(block_, next_ + 8, static_cast<std::uint16_t>(value & 0xFFFF));
    put(block_, next_ + 10, static_cast<std::uint16_t>(value >> 16));
    finish();
  }
  // BYTE or ASCII value of up to four bytes, lowest first.
  void add_bytes(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    put(block_, next_, tag);
    put(block_, next_ + 2, type);
    put(block_, next_ + 4, count);
    for (int i = 0; i < 4; ++i) block_[next_ + 8 + i] = static_cast<std::uint8_t>(value >> (8 * i));
    finish();
  }

 private:
  void finish() {
    next_ += 12;
    ++entries_;
    put(block_, count_at_, entries_);
  }

  std::uint8_t* block_;
  std::size_t count_at_;
  std::size_t next_;
  std::uint16_t entries_ = 0;
};

enum : std::uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

}  // namespace

int exif_orientation() {
  return ORIENTATION_TO_EXIF[usable_orientation_code(g_probe.orientation_code)] - '0';
}

std::int32_t exif_millionths(float value) {
  float scaled = 1000000.0f * value;
  if (std::isnan(scaled)) return 0;
  if (scaled >= 2147483647.0f) return 2147483647;
  if (scaled <= -2147483648.0f) return -2147483647 - 1;
  return static_cast<std::int32_t>(scaled);
}

std::int32_t exif_truncate(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0f) return 2147483647;
  if (value <= -2147483648.0f) return -2147483647 - 1;
  return static_cast<std::int32_t>(value);
}

void format_exif_time(std::int64_t seconds, char (&text)[20]) {
  UtcTime t = utc_breakdown(seconds);
  char date[48];
  std::snprintf(date, sizeof date, "%04d:%02d:%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  std::memcpy(text, date, 19);
  text[19] = 0;
}

UtcTime utc_breakdown(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rem = seconds % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  std::int64_t z = days + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = yoe + era * 400;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  UtcTime t;
  t.year = static_cast<int>(y);
  t.month = static_cast<int>(m);
  t.day = static_cast<int>(d);
  t.hour = static_cast<int>(rem / 3600);
  t.minute = static_cast<int>(rem / 60 % 60);
  t.second = static_cast<int>(rem % 60);
  return t;
}

void build_exif_header_block(std::uint8_t* block) {
  using namespace exif_block;
  std::memset(block, 0, kExifBlockSize);
  const bool little = std::endian::native == std::endian::little;
  block[0] = block[1] = little ? 'I' : 'M';
  put(block, 2, std::uint16_t{42});
  put(block, 4, std::uint32_t{10});

  const bool has_gps = g_probe.gps_words[1] != 0;

  DirectoryWriter ifd0(block, 10);
  ifd0.add(270, kAscii, 512, kDescription);
  ifd0.add(271, kAscii, 64, kMake);
  ifd0.add(272, kAscii, 64, kModel);
  ifd0.add_short(274, static_cast<std::uint32_t>(exif_orientation()));
  ifd0.add(282, kRational, 1, kXResolution);
  ifd0.add(283, kRational, 1, kYResolution);
  ifd0.add_short(284, 1);
  ifd0.add_short(296, 2);
  ifd0.add(305, kAscii, 32, kSoftware);
  ifd0.add(306, kAscii, 20, kDateTime);
  ifd0.add(315, kAscii, 64, kArtist);
  ifd0.add(34665, kLong, 1, kExifDir);

  DirectoryWriter exif(block, kExifDir);
  exif.add(33434, kRational, 1, kExposure);
  exif.add(33437, kRational, 1, kFNumber);
  exif.add_short(34855, static_cast<std::uint32_t>(exif_truncate(g_probe.iso_rating)));
  exif.add(37386, kRational, 1, kFocalLength);

  if (has_gps) {
    ifd0.add(34853, kLong, 1, kGpsDir);
    DirectoryWriter gps(block, kGpsDir);
    gps.add_bytes(0, kByte, 4, 0x00000202);
    gps.add_bytes(1, kAscii, 2, g_probe.gps_words[29]);
    gps.add(2, kRational, 3, kGpsData);
    gps.add_bytes(3, kAscii, 2, g_probe.gps_words[30]);
    gps.add(4, kRational, 3, kGpsData + 24);
    gps.add_bytes(5, kByte, 1, g_probe.gps_words[31]);
    gps.add(6, kRational, 1, kGpsData + 72);
    gps.add(7, kRational, 3, kGpsData + 48);
    gps.add(18, kAscii, 12, kGpsData + 80);
    gps.add(29, kAscii, 12, kGpsData + 92);
    std::memcpy(block + kGpsData, g_probe.gps_words, 26 * 4);
  }

  put(block, kXResolution, std::uint32_t{300});
  put(block, kXResolution + 4, std::uint32_t{1});
  put(block, kYResolution, std::uint32_t{300});
  put(block, kYResolution + 4, std::uint32_t{1});
  put(block, kExposure, exif_millionths(g_probe.exposure_seconds));
  put(block, kExposure + 4, std::uint32_t{1000000});
  put(block, kFNumber, exif_millionths(g_probe.f_number));
  put(block, kFNumber + 4, std::uint32_t{1000000});
  put(block, kFocalLength, exif_millionths(g_probe.focal_length_mm));
  put(block, kFocalLength + 4, std::uint32_t{1000000});

  copy_text(block + kDescription, g_probe.image_description);
  copy_text(block + kMake, written_make());
  copy_text(block + kModel, written_model());
  std::memcpy(block + kSoftware, kProbeDefaultSoftware, sizeof kProbeDefaultSoftware);
  char date[20];
  format_exif_time(g_probe.capture_time, date);
  std::memcpy(block + kDateTime, date, 19);
  copy_text(block + kArtist, g_probe.artist_name);
}
