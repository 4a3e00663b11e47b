// Capture times that container readers assemble from date and time texts.
#pragma once

#include <cstdint>

#include "probe/probe_input.h"

// Converts a broken-down wall-clock date (full year, month 1-12 or beyond,
// as the calendar conversion normalises it) to seconds and stores it as the capture
// time when it lies after 1970. Fields far outside any calendar (a scanned
// number of millions) are not a date and store nothing.
inline void store_wall_clock_capture_time(int year, int month, int day, int hour, int minute,
                                          int second) {
  constexpr int kLimit = 1000000;
  for (int v : {year, month, day, hour, minute, second}) {
    if (v > kLimit || v < -kLimit) return;
  }
  std::int64_t t = wall_clock_to_seconds(year, month, day, hour, minute, second);
  if (t > 0) g_probe.capture_time = t;
}
