// Capture times are the camera's wall-clock times: the same file gives the
// same recorded date and time whatever the host's zone. Every case runs
// under zones west and east of UTC, one with a half-hour offset and one
// with a 45-minute offset and daylight saving.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "probe/container_time.h"
#include "probe/exif_block.h"
#include "probe/probe.h"
#include "probe/probe_input.h"
#include "probe/readers.h"
#include "support/probe_fixture.h"
#include "tests/probe/core_builders.h"

namespace {

constexpr const char* kZones[] = {"UTC", "America/New_York", "Asia/Kolkata", "Pacific/Chatham"};

// Sets the host's zone for its scope; the suite's own zone comes back after.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

std::string breakdown_text(std::int64_t seconds) {
  UtcTime t = utc_breakdown(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

// Exif texts: in winter, in summer (daylight saving in three of the zones),
// a leap day just before midnight, and the hour Chatham's clocks skip.
constexpr const char* kExifTimes[] = {"2013:09:03 09:45:16", "2010:01:15 23:30:00", "2000:02:29 23:59:59",
                                      "2019:09:29 02:50:00"};

}  // namespace

TEST(CaptureTimeDoesNotMoveWithHostZone, ExifTextsAndTheInsertedBlock) {
  for (const char* zone : kZones) {
    ZoneScope scope(zone);
    for (const char* text : kExifTimes) {
      SCOPED_TRACE(std::string(zone) + " " + text);
      ScopedProbe probe(std::vector<std::uint8_t>(text, text + 19));
      read_exif_time(false);
      EXPECT_EQ(breakdown_text(g_probe.capture_time), text);
      std::vector<std::uint8_t> block(kExifBlockSize);
      build_exif_header_block(block.data());
      EXPECT_EQ(std::string(block.begin() + exif_block::kDateTime, block.begin() + exif_block::kDateTime + 19), text);
    }
  }
}

TEST(CaptureTimeDoesNotMoveWithHostZone, ContainerDateFields) {
  // Container readers hand broken-down fields; out-of-range ones carry over
  // as a calendar does (month 13 is January, day 0 the month's eve).
  struct Case {
    int y, mo, d, h, mi, s;
    const char* text;
  } cases[] = {{2010, 3, 15, 10, 20, 30, "2010:03:15 10:20:30"},
               {2010, 13, 1, 0, 0, 0, "2011:01:01 00:00:00"},
               {2012, 3, 0, 12, 0, 0, "2012:02:29 12:00:00"},
               {2019, 9, 29, 2, 50, 0, "2019:09:29 02:50:00"}};
  for (const char* zone : kZones) {
    ZoneScope scope(zone);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(zone) + " " + c.text);
      ScopedProbe probe({});
      store_wall_clock_capture_time(c.y, c.mo, c.d, c.h, c.mi, c.s);
      EXPECT_EQ(breakdown_text(g_probe.capture_time), c.text);
    }
  }
}

TEST(CaptureTimeDoesNotMoveWithHostZone, RealNikonFile) {
  SKIP_WITHOUT_SAMPLES();
  const std::string nef = samples_dir() + "/real-raw/NikonD7100.nef";
  for (const char* zone : kZones) {
    ZoneScope scope(zone);
    SCOPED_TRACE(zone);
    ProbeReport report;
    ASSERT_TRUE(probe_report(native_from_utf8(nef), report));
    EXPECT_EQ(breakdown_text(report.capture_time), "2013:09:03 09:45:16");
    EXPECT_EQ(report.capture_offset, "");
  }
}

TEST(CaptureOffset, OnlyAWellFormedOffsetTimeOriginalIsReported) {
  struct Case {
    std::string stored;
    const char* reported;
  } cases[] = {{"+05:30", "+05:30"}, {"-08:00", "-08:00"}, {"+5:30", ""}, {"+05-30", ""}, {"", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    core_test::Tiff t;
    std::vector<core_test::Entry> exif = {t.ascii(36867, "2020:01:02 03:04:05")};
    if (!c.stored.empty()) exif.push_back(t.ascii(36881, c.stored));
    auto ifd0 = t.dir({t.ascii(271, "Maker"), t.long_(34665, 0)});
    t.patch32(ifd0.value_field[1], t.here());
    t.dir(exif);
    core_test::TempFile file("offset.tif", t.bytes());
    ProbeReport report;
    ASSERT_TRUE(probe_report(file.native(), report));
    EXPECT_EQ(breakdown_text(report.capture_time), "2020:01:02 03:04:05");
    EXPECT_EQ(report.capture_offset, c.reported);
  }
}
