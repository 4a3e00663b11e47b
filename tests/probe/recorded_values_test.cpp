// Values as the camera recorded them, in every mode: for files of the
// layouts cameras write, built here, the report and both kinds of Exif an
// output can carry (the inserted basic block and the full one) hold the
// names, exposure, aperture, capture time and orientation the file records.
// One row a layout or a value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "probe/probe.h"
#include "support/exif_view.h"
#include "support/raw_builder.h"
#include "tests/probe/container_builders.h"
#include "tests/probe/core_builders.h"
#include "tests/probe/cr3_builder.h"

namespace {

using core_test::Bytes;
using core_test::TempFile;

Bytes extract_with(const TempFile& file, ExifMode mode) {
  unsigned char* data = nullptr;
  std::uint32_t length = 0, rotated = 0;
  if (probe_extract_jpeg_preview(file.native(), kVeltranoSoftware, &data, &length, &rotated, mode) != 1) return {};
  Bytes out(data, data + length);
  std::free(data);
  return out;
}

Bytes preview_jpeg() { return core_test::make_jpeg(320, 240, 3, core_test::JpegApp::kJfif, {}, 400); }

Bytes built(raw_builder::Layout layout, const std::string& make, const std::string& model) {
  raw_builder::RawSpec spec;
  spec.layout = layout;
  spec.jpeg = preview_jpeg();
  spec.make = make;
  spec.model = model;
  return raw_builder::build(spec);
}

Bytes built_cr3() {
  cr3_test::Cr3Parts parts;
  parts.full_size = preview_jpeg();
  return cr3_test::build_cr3(parts);
}

// A CRW: the names record ("Canon\0Canon EOS D30\0") and the JPEG record.
Bytes built_crw() {
  std::vector<std::uint8_t> names = text_bytes(std::string("Canon\0Canon EOS D30\0", 20));
  return build_crw(build_ciff_heap({{0x080A, names}, {0x2007, preview_jpeg()}}));
}

struct Row {
  std::string name;
  std::function<Bytes()> build;
  // The names as recorded, and as the probe identifies the camera.
  std::string make, model, short_make, short_model;
};

}  // namespace

TEST(RecordedValues, EveryModeCarriesWhatTheFileRecords) {
  using raw_builder::Layout;
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
      {"names, CR3 CMT1", built_cr3, "Canon", "Canon EOS R6", "Canon", "EOS R6"},
      {"names, CIFF record", built_crw, "Canon", "Canon EOS D30", "Canon", "EOS D30"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFile file("recorded_" + std::to_string(&row - rows.data()) + ".raw", row.build());
    ProbeReport report;
    ASSERT_TRUE(probe_report(file.native(), report));
    EXPECT_EQ(report.recorded_make, row.make);
    EXPECT_EQ(report.recorded_model, row.model);
    EXPECT_EQ(report.make, row.short_make);
    EXPECT_EQ(report.model, row.short_model);
    for (ExifMode mode : {ExifMode::basic, ExifMode::full}) {
      SCOPED_TRACE(mode == ExifMode::basic ? "basic" : "full");
      const exif_view::ExifView exif = exif_view::read(extract_with(file, mode));
      EXPECT_EQ(exif.exif_segments, 1);
      EXPECT_TRUE(exif.bad_pointers.empty()) << exif.bad_pointers.front();
      EXPECT_EQ(exif.text("IFD0", 271), row.make);
      EXPECT_EQ(exif.text("IFD0", 272), row.model);
    }
  }
}
