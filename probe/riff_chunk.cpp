// RIFF chunks (AVI files from cameras): only the capture time is of use,
// from an "IDIT" date text or from the time records of an "nctg" chunk.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "probe/container_time.h"
#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

constexpr const char* MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool same_text_ignoring_case(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

// "Mon Mar 15 10:20:30 2010": weekday, month name, day, time, year.
void read_date_text(std::uint32_t size) {
  char text[65];
  std::memset(text, 0, sizeof text);
  probe_read(text, 64);
  text[size] = 0;
  char month_name[64];
  int day, hour, minute, second, year;
  if (std::sscanf(text, "%*s %63s %d %d:%d:%d %d", month_name, &day, &hour, &minute, &second,
                  &year) != 6)
    return;
  int month = 12;
  for (int i = 0; i < 12; ++i) {
    if (same_text_ignoring_case(MONTH_NAMES[i], month_name)) {
      month = i;
      break;
    }
  }
  store_wall_clock_capture_time(year, month + 1, day, hour, minute, second);
}

// Tag records: a 16-bit id and size, then the data. Records 19 and 20 of
// size 20 hold a date-and-time text.
void read_tag_records(std::int64_t end) {
  while (probe_tell() + 7 < end && !g_probe.probe_file->at_end()) {
    if (!take_work()) return;
    unsigned id = read_u16();
    unsigned size = read_u16();
    std::int64_t data = probe_tell();
    if ((id == 19 || id == 20) && size == 20) read_exif_time(false);
    probe_seek(data + size);
  }
}

}  // namespace

void read_riff_chunk() {
  g_probe.byte_order = 0x4949;
  char tag[5] = {};
  probe_read(tag, 4);
  std::uint32_t size = read_u32();
  std::int64_t end = probe_tell() + size;
  if (!take_work()) {
    probe_seek(end);
    return;
  }
  if (std::memcmp(tag, "RIFF", 4) == 0 || std::memcmp(tag, "LIST", 4) == 0) {
    NestingGuard guard;
    if (!guard.ok()) {
      // Too deep to be a real file: skip the list whole.
      probe_seek(end);
      return;
    }
    read_u32();  // form type
    while (probe_tell() + 7 < end && !g_probe.probe_file->at_end()) {
      if (g_probe.work_left == 0) return;
      read_riff_chunk();
    }
  } else if (std::memcmp(tag, "nctg", 4) == 0) {
    read_tag_records(end);
  } else if (std::memcmp(tag, "IDIT", 4) == 0 && size < 64) {
    read_date_text(size);
    probe_seek(end);
  } else {
    probe_seek(end);
  }
}
