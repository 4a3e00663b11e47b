#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/folder_test.h"
#include "support/flat_jpeg.h"
#include "support/test_jpeg.h"
#include "ui/fit_within.h"
#include "ui/picture.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------- FitWithin

struct FitCase {
  std::int32_t width, height, maxWidth, maxHeight;
  std::int32_t newWidth, newHeight;
};

void ExpectFit(const FitCase& c) {
  SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " into " + std::to_string(c.maxWidth) + "x" +
               std::to_string(c.maxHeight));
  std::int32_t w = -1, h = -1;
  FitWithin(c.width, c.height, c.maxWidth, c.maxHeight, w, h);
  EXPECT_EQ(w, c.newWidth);
  EXPECT_EQ(h, c.newHeight);
}

TEST(FitWithinTest, WorkedExamples) {
  const FitCase cases[] = {
      {3008, 2000, 800, 800, 800, 531},  // width fit, height truncated
      {2000, 3008, 800, 800, 531, 800},  // height fit
      {1000, 800, 800, 800, 800, 640},
      {800, 1000, 800, 800, 640, 800},
      {1600, 800, 800, 400, 800, 400},  // width fit lands exactly on maxHeight
      {3000, 2001, 800, 800, 800, 533},  // 533.6 truncates
      {4000, 3000, 800, 800, 800, 600},
      {3000, 4000, 800, 800, 600, 800},
      {100, 50, 800, 800, 800, 400},  // smaller images are enlarged
      {640, 480, 640, 480, 640, 480},
  };
  for (const FitCase& c : cases) ExpectFit(c);
}

TEST(FitWithinTest, ZeroSizeLeavesOutputsUntouched) {
  const std::int32_t sizes[][2] = {{0, 100}, {100, 0}, {0, 0}};
  for (const auto& s : sizes) {
    std::int32_t w = 123, h = 456;
    FitWithin(s[0], s[1], 800, 800, w, h);
    EXPECT_EQ(w, 123);
    EXPECT_EQ(h, 456);
  }
}

// Regression: 32-bit products wrapped, and extreme aspect ratios gave a side
// of 0 or below, which ended in "scaled copy could not be made".
TEST(FitWithinTest, ExtremeSizesNeitherWrapNorGiveASideBelowOne) {
  const FitCase cases[] = {
      {1000, 1, 800, 800, 800, 1},            // was 800 x 0
      {1000, 65535, 65535, 800, 12, 800},     // was a negative height
      {60000, 60000, 60000, 60000, 60000, 60000},  // 60000 * 60000 wrapped in 32 bits
      {65535, 65535, 1, 65535, 1, 1},
      {3008, 2000, 0, 0, 1, 1},  // a box of 0 (a stored value) still gives a picture
  };
  for (const FitCase& c : cases) ExpectFit(c);
}

// ------------------------------------------------------------------ Picture

struct Segment {
  int code;
  Bytes data;  // payload without the length field
  bool operator==(const Segment& o) const { return code == o.code && data == o.data; }
};

// The APPn and COM segments of a JPEG file, in order, up to the scan.
std::vector<Segment> MetadataSegments(const Bytes& f) {
  std::vector<Segment> out;
  if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8) return out;
  std::size_t pos = 2;
  while (pos + 4 <= f.size()) {
    if (f[pos] != 0xFF) break;
    const int code = f[pos + 1];
    if (code == 0xFF) {
      ++pos;
      continue;
    }
    if (code == 0xDA || code == 0xD9) break;
    const std::size_t len = static_cast<std::size_t>(f[pos + 2]) << 8 | f[pos + 3];
    if (len < 2 || pos + 2 + len > f.size()) break;
    if ((code >= 0xE0 && code <= 0xEF) || code == 0xFE)
      out.push_back(Segment{code, Bytes(f.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                                        f.begin() + static_cast<std::ptrdiff_t>(pos + 2 + len))});
    pos += 2 + len;
  }
  return out;
}

Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const Bytes& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class PictureTest : public FolderTest {
 protected:
  // Encodes the picture into the test's folder, under a name of its own.
  fs::path Jpeg(const test_jpeg::JpegSpec& spec) {
    const fs::path p = root_ / ("src-" + std::to_string(spec.width) + "x" + std::to_string(spec.height) + "-" +
                               std::to_string(spec.seed) + ".jpg");
    if (!fs::exists(p)) WriteAll(p, test_jpeg::encode(spec));
    return p;
  }
};

// Mean of each component over a rectangle given in fractions of the image.
std::vector<double> RegionMean(const Picture& p, double x0, double y0, double x1, double y1) {
  std::vector<double> sum(4, 0.0);
  int count = 0, components = 0;
  const int ax = static_cast<int>(x0 * p.width()), bx = static_cast<int>(x1 * p.width());
  const int ay = static_cast<int>(y0 * p.height()), by = static_cast<int>(y1 * p.height());
  for (int y = ay; y < by; ++y)
    for (int x = ax; x < bx; ++x) {
      std::uint8_t c[4];
      if (!p.PixelAt(x, y, c, components)) return {};
      for (int i = 0; i < components; ++i) sum[static_cast<std::size_t>(i)] += c[i];
      ++count;
    }
  sum.resize(static_cast<std::size_t>(components));
  for (double& s : sum) s /= count;
  return sum;
}

// Compares a 4 x 4 grid of region means of two pictures of any sizes: a
// faithful resize keeps every region's colour.
void ExpectSameContent(const Picture& a, const Picture& b, double tolerance) {
  for (int gy = 0; gy < 4; ++gy)
    for (int gx = 0; gx < 4; ++gx) {
      SCOPED_TRACE("region " + std::to_string(gx) + "," + std::to_string(gy));
      auto ma = RegionMean(a, gx / 4.0, gy / 4.0, (gx + 1) / 4.0, (gy + 1) / 4.0);
      auto mb = RegionMean(b, gx / 4.0, gy / 4.0, (gx + 1) / 4.0, (gy + 1) / 4.0);
      ASSERT_EQ(ma.size(), 3u);
      ASSERT_EQ(mb.size(), 3u);
      for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(ma[i], mb[i], tolerance) << "component " << i;
    }
}

TEST_F(PictureTest, NewAndReleasedPicturesAreEmpty) {
  Picture p;
  EXPECT_EQ(p.width(), 0);
  EXPECT_EQ(p.height(), 0);
  EXPECT_FALSE(p.SaveAs((root_ / "x.jpg").native(), u"image/jpeg", 0.95f));
  EXPECT_FALSE(fs::exists(root_ / "x.jpg"));
  p.ScaleTo(10, 10);
  EXPECT_EQ(p.width(), 0);
}

// Camera-like files of every sampling layout, baseline and progressive, and
// sizes that are no multiple of the block size.
TEST_F(PictureTest, LoadReadsTheSizeOfCameraJpegs) {
  test_jpeg::JpegSpec odd;
  odd.width = 301, odd.height = 199, odd.hSampling = 1, odd.vSampling = 1, odd.progressive = true, odd.seed = 9;
  struct {
    const char* name;
    test_jpeg::JpegSpec spec;
    int width, height;
  } cases[] = {{"4:2:2 landscape", test_jpeg::landscape(), 1504, 1000},
               {"4:2:0 portrait", test_jpeg::portrait(), 864, 1152},
               {"phone", test_jpeg::phone(), 648, 484},
               {"4:4:4 progressive", odd, 301, 199}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Picture p;
    ASSERT_TRUE(p.LoadFromFile(Jpeg(c.spec).native()));
    EXPECT_EQ(p.width(), c.width);
    EXPECT_EQ(p.height(), c.height);
    p.Release();
    EXPECT_EQ(p.width(), 0);
    EXPECT_EQ(p.height(), 0);
  }
}

TEST_F(PictureTest, ScaledCopyKeepsSizeContentAndEveryMetadataSegment) {
  for (const test_jpeg::JpegSpec& spec : {test_jpeg::landscape(), test_jpeg::phone(), test_jpeg::portrait()}) {
    SCOPED_TRACE(std::to_string(spec.width) + "x" + std::to_string(spec.height));
    const fs::path source_path = Jpeg(spec);
    const Bytes source = ReadAll(source_path);
    const fs::path copy = root_ / "copy.jpg";
    WriteAll(copy, source);

    Picture p;
    ASSERT_TRUE(p.LoadFromFile(copy.native()));
    std::int32_t w = 0, h = 0;
    FitWithin(p.width(), p.height(), 800, 800, w, h);
    p.ScaleTo(w, h);
    ASSERT_EQ(p.width(), w);
    ASSERT_EQ(p.height(), h);
    // Saving over the loaded file works.
    ASSERT_TRUE(p.SaveAs(copy.native(), u"image/jpeg", 0.95f));

    const Bytes saved = ReadAll(copy);
    EXPECT_NE(saved, source);
    EXPECT_EQ(MetadataSegments(saved), MetadataSegments(source));

    Picture reloaded;
    ASSERT_TRUE(reloaded.LoadFromFile(copy.native()));
    EXPECT_EQ(reloaded.width(), w);
    EXPECT_EQ(reloaded.height(), h);

    // The picture shows the same scene: compare against the full-size decode.
    Picture full;
    ASSERT_TRUE(full.LoadFromFile(source_path.native()));
    full.ScaleTo(full.width(), full.height());
    ExpectSameContent(p, full, 6.0);
    // And the encoded copy shows what was scaled (same channel order).
    reloaded.ScaleTo(w, h);
    ExpectSameContent(p, reloaded, 4.0);
  }
}

TEST_F(PictureTest, SourceMetadataIsCarriedInOrderIncludingIccXmpAndComments) {
  Bytes source = ReadAll(Jpeg(test_jpeg::phone()));
  ASSERT_GT(source.size(), 2u);
  // Splice extra segments in after the source's own: an XMP APP1, a second
  // APP2 and a comment, each with distinctive bytes.
  auto segment = [](int code, const std::string& payload) {
    Bytes s(4 + payload.size());
    s[0] = 0xFF;
    s[1] = static_cast<std::uint8_t>(code);
    s[2] = static_cast<std::uint8_t>((payload.size() + 2) >> 8);
    s[3] = static_cast<std::uint8_t>(payload.size() + 2);
    std::copy(payload.begin(), payload.end(), s.begin() + 4);
    return s;
  };
  const auto before = MetadataSegments(source);
  ASSERT_TRUE(std::any_of(before.begin(), before.end(), [](const Segment& s) { return s.code == 0xE2; }))
      << "the source carries an ICC profile";
  Bytes extra;
  for (const Bytes& s : {segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>", 42)),
                         segment(0xE5, "vendor data \x01\x02"), segment(0xFE, "a comment")})
    extra.insert(extra.end(), s.begin(), s.end());
  // Insert right before the first segment that is not APPn/COM.
  std::size_t pos = 2;
  while (source[pos + 1] >= 0xE0 && source[pos + 1] <= 0xEF) pos += 2 + (source[pos + 2] << 8 | source[pos + 3]);
  source.insert(source.begin() + static_cast<std::ptrdiff_t>(pos), extra.begin(), extra.end());
  const fs::path in = root_ / "in.jpg", out = root_ / "out.jpg";
  WriteAll(in, source);

  Picture p;
  ASSERT_TRUE(p.LoadFromFile(in.native()));
  p.ScaleTo(200, 150);
  ASSERT_TRUE(p.SaveAs(out.native(), u"image/jpeg", 0.95f));
  const auto expected = MetadataSegments(source);
  EXPECT_EQ(expected.size(), before.size() + 3);
  EXPECT_EQ(MetadataSegments(ReadAll(out)), expected);
}

TEST_F(PictureTest, OnlyTheExactJpegMimeTypeWrites) {
  Picture p;
  ASSERT_TRUE(p.LoadFromFile(Jpeg(test_jpeg::three_two()).native()));
  p.ScaleTo(300, 200);
  const std::u16string refused[] = {u"image/JPEG", u"image/jpg", u"image/png", u"", u"image/jpeg "};
  for (const auto& mime : refused) {
    EXPECT_FALSE(p.SaveAs((root_ / "out.jpg").native(), mime, 0.95f));
    EXPECT_FALSE(fs::exists(root_ / "out.jpg"));
  }
  EXPECT_TRUE(p.SaveAs((root_ / "out.jpg").native(), u"image/jpeg", 0.95f));
  EXPECT_TRUE(fs::exists(root_ / "out.jpg"));
  // Nothing but the source and the output is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 2);
}

// Estimates the quality the encoder used from the first quantisation table:
// the table is the standard luminance table scaled by the libjpeg rule, so a
// higher quality gives strictly smaller entries.
// ... and the chroma resolution from the luma component's sampling factors
// in the frame header: 0x11 is 4:4:4, 0x22 is 4:2:0.
struct Tables {
  int quantSum = -1;
  int lumaSampling = -1;
};

Tables ReadTables(const Bytes& f) {
  Tables t;
  for (std::size_t pos = 2; pos + 4 < f.size() && f[pos + 1] != 0xDA;) {
    const int code = f[pos + 1];
    const std::size_t len = static_cast<std::size_t>(f[pos + 2]) << 8 | f[pos + 3];
    if (code == 0xDB && t.quantSum < 0 && pos + 69 <= f.size()) {
      t.quantSum = 0;
      for (std::size_t i = 0; i < 64; ++i) t.quantSum += f[pos + 5 + i];
    }
    if (code == 0xC0 && pos + 12 <= f.size()) t.lumaSampling = f[pos + 11];
    pos += 2 + len;
  }
  return t;
}

TEST_F(PictureTest, QualityIsPercentTruncatedSoPoint95IsNinetyFive) {
  const fs::path source = Jpeg(test_jpeg::three_two());
  auto tables_at = [&](float quality) {
    Picture p;
    EXPECT_TRUE(p.LoadFromFile(source.native()));
    p.ScaleTo(96, 64);
    const fs::path out = root_ / "q.jpg";
    EXPECT_TRUE(p.SaveAs(out.native(), u"image/jpeg", quality));
    return ReadTables(ReadAll(out));
  };
  const Tables q95 = tables_at(0.95f);
  ASSERT_GT(q95.quantSum, 0);
  EXPECT_EQ(q95.quantSum, tables_at(0.959f).quantSum);  // truncation, not rounding
  EXPECT_LT(q95.quantSum, tables_at(0.94f).quantSum);
  EXPECT_GT(q95.quantSum, tables_at(0.96f).quantSum);
  // Full-resolution chroma from quality 90 on, halved below.
  EXPECT_EQ(q95.lumaSampling, 0x11);
  EXPECT_EQ(tables_at(0.90f).lumaSampling, 0x11);
  EXPECT_EQ(tables_at(0.89f).lumaSampling, 0x22);
}

TEST_F(PictureTest, CorruptOrTruncatedJpegsFailCleanly) {
  const Bytes good = ReadAll(Jpeg(test_jpeg::three_two()));
  ASSERT_GT(good.size(), 100000u);
  struct Case {
    const char* name;
    Bytes bytes;
    bool header_ok;  // LoadFromFile succeeds; ScaleTo must then fail
  };
  std::vector<Case> cases = {
      {"empty", {}, false},
      {"not a jpeg", Bytes(1000, 0x42), false},
      {"only SOI", {0xFF, 0xD8}, false},
      {"cut in the header", Bytes(good.begin(), good.begin() + 300), false},
      {"cut in the scan", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)), true},
  };
  // Huge declared size in the frame header: refused as a decompression bomb.
  Bytes bomb = good;
  for (std::size_t pos = 2; pos + 9 < bomb.size();) {
    if (bomb[pos + 1] == 0xC0 || bomb[pos + 1] == 0xC2) {
      bomb[pos + 5] = bomb[pos + 6] = bomb[pos + 7] = bomb[pos + 8] = 0xFF;  // 65535 x 65535
      break;
    }
    pos += 2 + (bomb[pos + 2] << 8 | bomb[pos + 3]);
  }
  cases.push_back({"65535 x 65535", bomb, false});
  // Scan data overwritten with garbage.
  Bytes garbage = good;
  for (std::size_t i = good.size() / 3; i < good.size() / 3 + 4096; ++i) garbage[i] = static_cast<std::uint8_t>(i * 7);
  cases.push_back({"garbled scan", garbage, true});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path in = root_ / "bad.jpg", out = root_ / "out.jpg";
    WriteAll(in, c.bytes);
    Picture p;
    const bool loaded = p.LoadFromFile(in.native());
    if (!c.header_ok) {
      EXPECT_FALSE(loaded);
      EXPECT_EQ(p.width(), 0);
      EXPECT_EQ(p.height(), 0);
      continue;
    }
    ASSERT_TRUE(loaded);
    p.ScaleTo(200, 133);
    if (std::string(c.name) == "garbled scan" && p.width() != 0) {
      // Garbage may still decode as valid Huffman codes; then the result is
      // a picture of the right size, which is acceptable.
      EXPECT_EQ(p.width(), 200);
      continue;
    }
    EXPECT_EQ(p.width(), 0);
    EXPECT_EQ(p.height(), 0);
    EXPECT_FALSE(p.SaveAs(out.native(), u"image/jpeg", 0.95f));
    EXPECT_FALSE(fs::exists(out));
  }
  // A missing file.
  Picture p;
  EXPECT_FALSE(p.LoadFromFile((root_ / "absent.jpg").native()));
  EXPECT_FALSE(p.LoadFromFile(root_.native()));
}

// Regression: a header of more than 2^28 decoded bytes was taken for
// undecodable, though the decode shrinks on load; 100-megapixel cameras
// write previews of 11648 x 8736.
TEST_F(PictureTest, PreviewsAboveTheOldDecodeLimitLoadAndScale) {
  const Bytes jpeg = flat_jpeg::mid_grey(11648, 8736);
  Picture p;
  ASSERT_TRUE(p.LoadFromMemory(jpeg.data(), jpeg.size()));
  EXPECT_EQ(p.width(), 11648);
  EXPECT_EQ(p.height(), 8736);
  p.ScaleTo(800, 600);
  ASSERT_EQ(p.width(), 800);
  std::uint8_t c[4];
  int count = 0;
  ASSERT_TRUE(p.PixelAt(799, 599, c, count));
  ASSERT_EQ(count, 3);
  EXPECT_EQ(c[0] + c[1] + c[2], 3 * 128);
  Bytes saved;
  ASSERT_TRUE(p.SaveToMemory(u"image/jpeg", 0.95f, saved));
  Picture again;
  ASSERT_TRUE(again.LoadFromMemory(saved.data(), saved.size()));
  EXPECT_EQ(again.width(), 800);
  EXPECT_EQ(again.height(), 600);
}

TEST_F(PictureTest, UnscaledSaveReencodesAtTheLoadedSizeAndEnlargingWorks) {
  const fs::path source = Jpeg(test_jpeg::three_two());
  Picture p;
  ASSERT_TRUE(p.LoadFromFile(source.native()));
  const fs::path out = root_ / "same.jpg";
  ASSERT_TRUE(p.SaveAs(out.native(), u"image/jpeg", 0.5f));
  Picture again;
  ASSERT_TRUE(again.LoadFromFile(out.native()));
  EXPECT_EQ(again.width(), 1200);
  EXPECT_EQ(again.height(), 800);

  // A second ScaleTo resamples the scaled image; enlarging is allowed.
  again.ScaleTo(100, 60);
  again.ScaleTo(300, 180);
  EXPECT_EQ(again.width(), 300);
  EXPECT_EQ(again.height(), 180);
  Picture reference;
  ASSERT_TRUE(reference.LoadFromFile(source.native()));
  reference.ScaleTo(300, 180);
  ExpectSameContent(again, reference, 8.0);
}

}  // namespace
