// Rollei d530flex files: a text header of "key=value" lines up to "EOHD".
// It gives the capture date and time; the thumbnail is in a private format
// that is never extracted.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "probe/container_time.h"
#include "probe/probe_input.h"
#include "probe/readers.h"

namespace {

// Reads one header line of at most 127 characters, ending after a newline.
// False at the end of the file.
bool read_line(char (&line)[128]) {
  std::size_t i = 0;
  while (i + 1 < sizeof line) {
    int c = probe_getc();
    if (c < 0) break;
    line[i++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[i] = 0;
  return i > 0;
}

int decimal(const char* text) {
  long v = std::strtol(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int>(v);
}

}  // namespace

void read_rollei_header() {
  probe_seek(0);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char line[128];
  while (read_line(line)) {
    if (!take_work()) break;
    char* value = std::strchr(line, '=');
    if (value) {
      *value++ = 0;
    } else {
      value = line + std::strlen(line);
    }
    if (std::strcmp(line, "DAT") == 0) {
      std::sscanf(value, "%d.%d.%d", &day, &month, &year);
    } else if (std::strcmp(line, "TIM") == 0) {
      std::sscanf(value, "%d:%d:%d", &hour, &minute, &second);
    } else if (std::strcmp(line, "HDR") == 0) {
      g_probe.preview_offset = static_cast<std::uint32_t>(decimal(value));
    } else if (std::strcmp(line, "X  ") == 0) {
      g_probe.sensor_width = static_cast<std::uint16_t>(decimal(value));
    } else if (std::strcmp(line, "Y  ") == 0) {
      g_probe.sensor_height = static_cast<std::uint16_t>(decimal(value));
    } else if (std::strcmp(line, "TX ") == 0) {
      g_probe.preview_width = static_cast<std::uint16_t>(decimal(value));
    } else if (std::strcmp(line, "TY ") == 0) {
      g_probe.preview_height = static_cast<std::uint16_t>(decimal(value));
    }
    if (std::strncmp(line, "EOHD", 4) == 0) break;
  }
  g_probe.raw_offset = static_cast<std::uint32_t>(g_probe.preview_offset) +
                       static_cast<std::uint32_t>(g_probe.preview_width) * g_probe.preview_height * 2u;
  store_wall_clock_capture_time(year, month, day, hour, minute, second);
  set_text(g_probe.camera_make, "Rollei");
  set_text(g_probe.camera_model, "d530flex");
  g_probe.preview_kind = PreviewKind::rollei_thumb;
}
