// Real camera files through the whole probe: names, capture time and shot
// data against what exiftool 12.57 reports for them (values recorded when
// this test was written), after the probe's make and model clean-up.
// Capture times are wall-clock times counted as UTC seconds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/native_path.h"
#include "probe/probe.h"
#include "support/probe_fixture.h"

namespace {

struct SampleCase {
  const char* file;
  const char* make;
  const char* model;
  std::int64_t capture_time;
  float iso, exposure, f_number, focal_length;
  int exif_orientation;
  bool jpeg_preview;             // an extractable JPEG preview
  std::uint32_t preview_length;  // of the located preview, as exiftool sees it
};

// Where a value differs from exiftool, the comment says why.
const SampleCase kSamples[] = {
    // CIFF. The shot information's exposure and aperture used (words 22
    // and 21, not the targets of words 5 and 4), in Canon's 1/32 EV codes
    // whose fractions 12 and 20 are thirds: exiftool's 1/64 s and f/3.5636.
    // The 0x2007 record (exiftool's JpgFromRaw) is located, but it is a
    // 29-byte text stub the sample kept in place of the JPEG, so it is not
    // extractable.
    {"CanonRaw.crw", "Canon", "EOS DIGITAL REBEL", 1068485966, 100, 0.015625f, 3.5635949f, 24, 1, false, 29},
    // X3F. The probe takes the exposure from the EXPTIME property, which
    // exiftool shows as IntegrationTime (0.02414); its ExposureTime
    // (0.00929) comes from another property. Rotation 90 gives Exif 6.
    {"Sigma.x3f", "SIGMA", "SD10", 978309395, 100, 0.02414f, 8.35419f, 30, 6, false, 0},
    {"SigmaDP2.x3f", "SIGMA", "DP2", 1259413520, 100, 0.1f, 2.8f, 24.2f, 1, true, 2676},
    // Minolta blocks; "Konica Minolta Camera, Inc." becomes the maker word
    // "Minolta". Maker-note tags 136/137 locate exiftool's 26-byte
    // PreviewImage stub, located but no JPEG.
    {"Minolta.mrw", "Minolta", "DiMAGE A2", 1100819698, 64, 0.2f, 2.8f, 7.203125f, 1, false, 26},
    // Maker note (Nikon type 3); the preview is an uncompressed thumbnail.
    {"Nikon.nef", "NIKON", "D70", 1086796955, 200, 0.05f, 3.5f, 18, 1, false, 0},
    {"PhaseOne.iiq", "Leaf", "Credo 40", 1371656661, 100, 0.0008f, 5.6f, 80, 1, false, 0},
    // The "ARECOYK" header is read for its capture time only and names the
    // camera "Contax" "N Digital"; exiftool's KYOCERA / N DIGITAL with ISO
    // 13, 1/125 s, f/11.3 and 55 mm come from fields the probe does not read.
    {"KyoceraRaw.raw", "Contax", "N Digital", 1121537670, 0, 0, 0, 0, 1, false, 0},
    // CR3 (CMT1/CMT2 of Canon's uuid box): ExposureTime 1/80 and FNumber
    // 3.5 as recorded; the ShutterSpeedValue (2^-6.375 s) and ApertureValue
    // (2^(3.625/2)) that follow them do not replace them. Its three JPEG
    // places hold text stubs (THMB even states a length beyond its box), so
    // nothing is extractable.
    {"CanonRaw.cr3", "Canon", "EOS M50", 1519214936, 12800, 0.0125f, 3.5f, 15, 1, false, 0},
    // RAF header and its Exif; the 160x120 thumbnail outscores the 8x8
    // header preview. ExposureTime 0.004 as recorded (not the 2^-8 s of the
    // ShutterSpeedValue that follows it).
    {"FujiFilm.raf", "FUJIFILM", "FinePix S5Pro", 1179842310, 100, 0.004f, 8, 70, 1, true,
     9362},
};

std::string sample_path(const char* file) { return samples_dir() + "/raw/" + file; }

void expect_close(float actual, float expected, const char* what) {
  EXPECT_NEAR(actual, expected, std::fabs(expected) * 1e-3 + 1e-6) << what;
}

TEST(ContainerSamples, MetadataAgreesWithExiftool) {
  SKIP_WITHOUT_SAMPLES();
  for (const SampleCase& c : kSamples) {
    SCOPED_TRACE(c.file);
    ProbeReport report;
    ASSERT_TRUE(probe_report(native_path(sample_path(c.file)), report));
    EXPECT_FALSE(report.aborted);
    EXPECT_EQ(report.make, c.make);
    EXPECT_EQ(report.model, c.model);
    EXPECT_EQ(report.capture_time, c.capture_time);
    expect_close(report.iso, c.iso, "iso");
    expect_close(report.exposure, c.exposure, "exposure");
    expect_close(report.f_number, c.f_number, "f-number");
    expect_close(report.focal_length, c.focal_length, "focal length");
    EXPECT_EQ(report.exif_orientation, c.exif_orientation);
    EXPECT_EQ(report.has_jpeg_preview, c.jpeg_preview);
    if (c.preview_length) {
      EXPECT_EQ(report.preview_length, c.preview_length);
    }
  }
}

// FNV-1a, 64 bits.
std::uint64_t fingerprint(const unsigned char* data, std::size_t n) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= data[i];
    h *= 0x100000001b3ull;
  }
  return h;
}

TEST(ContainerSamples, SigmaDp2PreviewComesBackByteForByte) {
  SKIP_WITHOUT_SAMPLES();
  // `exiftool -b -JpgFromRaw SigmaDP2.x3f`: 2,676 bytes that already hold an
  // Exif segment, so nothing is inserted.
  constexpr std::uint32_t kLength = 2676;
  constexpr std::uint64_t kFingerprint = 0x962f30f91383971aull;
  unsigned char* buffer = nullptr;
  std::uint32_t length = 0, rotated = 7;
  ASSERT_EQ(probe_extract_jpeg_preview(native_path(sample_path("SigmaDP2.x3f")), "Veltrano test", &buffer,
                                       &length, &rotated, ExifMode::basic),
            1);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(length, kLength);
  EXPECT_EQ(fingerprint(buffer, length), kFingerprint);
  EXPECT_EQ(rotated, 0u);
  std::free(buffer);
}

TEST(ContainerSamples, SigmaSd10HasOnlyAFoveonThumbnail) {
  SKIP_WITHOUT_SAMPLES();
  ProbeReport report;
  ASSERT_TRUE(probe_report(native_path(sample_path("Sigma.x3f")), report));
  EXPECT_EQ(report.preview_kind, "foveon_thumb");
  unsigned char* buffer = nullptr;
  std::uint32_t length = 0, rotated = 0;
  EXPECT_EQ(probe_extract_jpeg_preview(native_path(sample_path("Sigma.x3f")), nullptr, &buffer, &length,
                                       &rotated, kDefaultExifMode),
            0);
  EXPECT_EQ(buffer, nullptr);
}

}  // namespace
