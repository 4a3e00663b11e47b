// Values as the camera recorded them, in every mode: for files of the
// layouts cameras write, built here, the report and both kinds of Exif an
// output can carry (the inserted basic block and the full one) hold the
// names, exposure, aperture, capture time and orientation the file records.
// One row a layout or a value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "support/exif_view.h"
#include "support/raw_builder.h"
#include "tests/probe/cr3_builder.h"
#include "tests/probe/value_builders.h"

namespace {

using core_test::Bytes;
using core_test::Entry;
using core_test::TempFile;
using core_test::Tiff;
using value_builders::plain_preview;
using value_builders::tiff_raw;

Bytes extract_with(const TempFile& file, ExifMode mode) {
  unsigned char* data = nullptr;
  std::uint32_t length = 0, rotated = 0;
  if (probe_extract_jpeg_preview(file.native(), kVeltranoSoftware, &data, &length, &rotated, mode) != 1) return {};
  Bytes out(data, data + length);
  std::free(data);
  return out;
}

Bytes built(raw_builder::Layout layout, const std::string& make, const std::string& model) {
  raw_builder::RawSpec spec;
  spec.layout = layout;
  spec.jpeg = plain_preview();
  spec.make = make;
  spec.model = model;
  return raw_builder::build(spec);
}

Bytes built_cr3() {
  cr3_test::Cr3Parts parts;
  parts.full_size = plain_preview();
  return cr3_test::build_cr3(parts);
}

// An Exif directory of the given entries in a TIFF RAW named "Canon".
Bytes with_exif(const std::function<std::vector<Entry>(Tiff&)>& entries) {
  return tiff_raw([&](Tiff& t, std::vector<Entry>&, std::vector<Entry>& exif) { exif = entries(t); });
}

// The preview whose own Exif follows its JFIF segment.
Bytes own_exif_preview() {
  return value_builders::jfif_then_exif_preview(
      [](Tiff& t) { return std::vector<Entry>{t.ascii(271, "PreviewMaker")}; },
      [](Tiff& t) { return std::vector<Entry>{t.rational(33434, 1, 60)}; });
}

// Which recorded time the row's capture time comes from; 0: a container's
// own field (the full Exif then carries it as DateTimeOriginal).
enum TimeTag : std::uint16_t { kContainerTime = 0, kDateTime = 306, kDigitized = 36868, kOriginal = 36867 };

struct Row {
  std::string name;
  std::function<Bytes()> build;
  // The names as recorded, and as the probe identifies the camera.
  std::string make, model, short_make, short_model;
  // Exposure and f-number as the probe reads them (-1: not checked), and
  // whether the file records them as ExposureTime and FNumber (the full
  // Exif copies only what is recorded).
  double exposure = -1, f_number = -1;
  bool recorded = true;
  // The capture time ("" when none), its offset, and where it comes from.
  std::string time, offset;
  TimeTag time_tag = kOriginal;
  int orientation = 1;
  // The preview carries the camera's Exif: the basic mode keeps it whole.
  bool own_exif = false;
};

}  // namespace

TEST(RecordedValues, EveryModeCarriesWhatTheFileRecords) {
  using raw_builder::Layout;
  const std::string kBuilderTime = "2021:07:04 18:30:05";
  const std::vector<Row> rows = {
      // The probe shortened "NIKON CORPORATION" / "NIKON D7100" to tell
      // cameras apart, and the block wrote the short forms.
      {"names, CR2 layout", [] { return built(Layout::kStripJpeg, "NIKON CORPORATION", "NIKON D7100"); },
       "NIKON CORPORATION", "NIKON D7100", "NIKON", "D7100"},
      {"names, SubIFD layout", [] { return built(Layout::kSubIfdJpeg, "Canon", "Canon EOS R6"); }, "Canon",
       "Canon EOS R6", "Canon", "EOS R6"},
      {"names with trailing spaces, tag 46 layout",
       [] { return built(Layout::kTag46Jpeg, "OLYMPUS IMAGING CORP.  ", "E-M1"); }, "OLYMPUS IMAGING CORP.  ",
       "E-M1", "OLYMPUS", "E-M1"},
      {"names and time, CR3 (DateTime in CMT1, DateTimeOriginal in CMT2)", built_cr3, "Canon", "Canon EOS R6",
       "Canon", "EOS R6", 0.01, 2.8, true, "2025:09:06 20:24:48", ""},
      // Canon's shot information holds the target exposure and aperture and,
      // later in the record, the ones used: 2^(7/3) s and f/2^(5/2).
      {"names, time and shot information, CIFF", [] { return value_builders::crw(); }, "Canon", "Canon EOS D30",
       "Canon", "EOS D30", std::pow(2.0, 7.0 / 3), std::pow(2.0, 2.5), true, "2018:01:01 13:03:32", "",
       kContainerTime},
      // ShutterSpeedValue and ApertureValue follow ExposureTime and FNumber
      // in a sorted directory and replaced them: 1/100 s came out as 1/99.
      {"ExposureTime and FNumber with APEX values after them",
       [] {
         return with_exif([](Tiff& t) {
           return std::vector<Entry>{t.rational(33434, 1, 100), t.rational(33437, 22, 1),
                                     t.rational(37377, 53, 8, 10), t.rational(37378, 9, 1)};
         });
       },
       "Canon", "Canon EOS 5D", "Canon", "EOS 5D", 0.01, 22, true, "", "", kOriginal},
      {"APEX values only",
       [] {
         return with_exif([](Tiff& t) {
           return std::vector<Entry>{t.rational(37377, 53, 8, 10), t.rational(37378, 9, 1)};
         });
       },
       "Canon", "Canon EOS 5D", "Canon", "EOS 5D", std::pow(2.0, -6.625), std::pow(2.0, 4.5), false, "", "",
       kOriginal},
      // DateTimeDigitized follows DateTimeOriginal in a sorted directory and
      // replaced it, paired with OffsetTimeOriginal.
      {"DateTimeOriginal, then DateTimeDigitized on another day",
       [] {
         return with_exif([](Tiff& t) {
           return std::vector<Entry>{t.ascii(36867, "2021:07:04 23:30:05"), t.ascii(36868, "2021:07:05 01:10:00"),
                                     t.ascii(36881, "+05:30"), t.ascii(36882, "+07:00")};
         });
       },
       "Canon", "Canon EOS 5D", "Canon", "EOS 5D", -1, -1, true, "2021:07:04 23:30:05", "+05:30", kOriginal},
      {"DateTimeDigitized listed before DateTimeOriginal",
       [] {
         return with_exif([](Tiff& t) {
           return std::vector<Entry>{t.ascii(36868, "2021:07:05 01:10:00"), t.ascii(36867, "2021:07:04 23:30:05"),
                                     t.ascii(36882, "+07:00"), t.ascii(36881, "+05:30")};
         });
       },
       "Canon", "Canon EOS 5D", "Canon", "EOS 5D", -1, -1, true, "2021:07:04 23:30:05", "+05:30", kOriginal},
      {"DateTimeDigitized only, with its own offset",
       [] {
         return with_exif([](Tiff& t) {
           return std::vector<Entry>{t.ascii(36868, "2021:07:05 01:10:00"), t.ascii(36881, "+05:30"),
                                     t.ascii(36882, "-03:00")};
         });
       },
       "Canon", "Canon EOS 5D", "Canon", "EOS 5D", -1, -1, true, "2021:07:05 01:10:00", "-03:00", kDigitized},
      {"DateTime only, with OffsetTime",
       [] {
         return tiff_raw([](Tiff& t, std::vector<Entry>& ifd0, std::vector<Entry>& exif) {
           ifd0.push_back(t.ascii(306, "2020:02:29 12:00:00"));
           exif = {t.ascii(36880, "+01:00")};
         });
       },
       "Canon", "Canon EOS 5D", "Canon", "EOS 5D", -1, -1, true, "2020:02:29 12:00:00", "+01:00", kDateTime},
      // The TTW directory's orientation never reached the output.
      {"MRW rotated 90 degrees", [] { return value_builders::mrw(6); }, "Konica Minolta Camera, Inc.", "DiMAGE A2",
       "Minolta", "DiMAGE A2", 0.2, 2.8, true, "2004:11:18 23:14:58", "", kOriginal, 6},
      {"MRW rotated 180 degrees", [] { return value_builders::mrw(3); }, "Konica Minolta Camera, Inc.", "DiMAGE A2",
       "Minolta", "DiMAGE A2", 0.2, 2.8, true, "2004:11:18 23:14:58", "", kOriginal, 3},
      {"MRW rotated 270 degrees", [] { return value_builders::mrw(8); }, "Konica Minolta Camera, Inc.", "DiMAGE A2",
       "Minolta", "DiMAGE A2", 0.2, 2.8, true, "2004:11:18 23:14:58", "", kOriginal, 8},
      // Only bytes 6-10 were tested: the JFIF preview got a second Exif
      // segment inserted before its own.
      {"preview with its Exif after a JFIF segment",
       [] {
         return tiff_raw([](Tiff& t, std::vector<Entry>&, std::vector<Entry>& exif) {
           exif = {t.rational(33434, 1, 125), t.ascii(36867, "2022:03:04 05:06:07")};
         }, own_exif_preview());
       },
       "Canon", "Canon EOS 5D", "Canon", "EOS 5D", 1.0 / 125, -1, true, "2022:03:04 05:06:07", "", kOriginal, 1,
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes bytes = row.build();
    TempFile file("recorded_" + std::to_string(&row - rows.data()) + ".raw", bytes);
    ProbeReport report;
    ASSERT_TRUE(probe_report(file.native(), report));
    ASSERT_TRUE(report.has_jpeg_preview);
    EXPECT_EQ(report.recorded_make, row.make);
    EXPECT_EQ(report.recorded_model, row.model);
    EXPECT_EQ(report.make, row.short_make);
    EXPECT_EQ(report.model, row.short_model);
    if (row.exposure >= 0) EXPECT_NEAR(report.exposure, row.exposure, row.exposure * 1e-5);
    if (row.f_number >= 0) EXPECT_NEAR(report.f_number, row.f_number, row.f_number * 1e-5);
    EXPECT_EQ(report.capture_offset, row.offset);
    EXPECT_EQ(report.exif_orientation, row.orientation);

    for (ExifMode mode : {ExifMode::basic, ExifMode::full}) {
      SCOPED_TRACE(mode == ExifMode::basic ? "basic" : "full");
      const Bytes out = extract_with(file, mode);
      const exif_view::ExifView exif = exif_view::read(out);
      EXPECT_EQ(exif.exif_segments, 1);
      EXPECT_TRUE(exif.bad_pointers.empty()) << exif.bad_pointers.front();
      if (row.own_exif && mode == ExifMode::basic) {
        const Bytes preview = own_exif_preview();
        EXPECT_EQ(out, preview);  // kept byte for byte
        continue;
      }
      EXPECT_EQ(exif.text("IFD0", 271), row.make);
      EXPECT_EQ(exif.text("IFD0", 272), row.model);
      EXPECT_EQ(exif.number("IFD0", 274), row.orientation);
      const bool copied = mode == ExifMode::full;  // values as stored
      if (row.exposure >= 0 && (row.recorded || !copied))
        EXPECT_NEAR(exif.rational("Exif", 33434), row.exposure, row.exposure * 1e-4);  // millionths
      if (row.f_number >= 0 && (row.recorded || !copied))
        EXPECT_NEAR(exif.rational("Exif", 33437), row.f_number, row.f_number * 1e-4);
      if (!row.recorded && copied && row.time_tag != kContainerTime) {
        EXPECT_FALSE(exif.has("Exif", 33434));  // the camera recorded none
        EXPECT_FALSE(exif.has("Exif", 33437));
      }
      if (row.time.empty()) continue;
      if (!copied)
        EXPECT_EQ(exif.text("IFD0", 306), row.time);
      else if (row.time_tag == kContainerTime)
        EXPECT_EQ(exif.text("Exif", 36867), row.time);
      else
        EXPECT_EQ(exif.text(row.time_tag == kDateTime ? "IFD0" : "Exif", row.time_tag), row.time);
    }
  }
}
