// Builds the benchmark corpus: COUNT RAW-like files of about SIZE_MB each,
// cycling through the camera JPEGs (as full-size previews) and the three
// container layouts, plus a manifest of where each preview lies:
//   make_corpus SAMPLES_DIR OUT_DIR COUNT SIZE_MB
// manifest.txt lines: "<raw path> <preview offset> <preview length> <layout>".
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/probe_fixture.h"
#include "support/raw_builder.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_corpus SAMPLES_DIR OUT_DIR COUNT SIZE_MB\n");
    return 2;
  }
  const std::string samples = argv[1], out = argv[2];
  const int count = std::atoi(argv[3]);
  const std::size_t size = static_cast<std::size_t>(std::atoi(argv[4])) << 20;
  // Camera JPEGs of 1 to 4 MB, a realistic full-size preview.
  const char* names[] = {"Canon_EOS_1000D.jpg", "Canon_EOS_350D.jpg", "Canon_PowerShot_A85.jpg",
                         "Minolta_DiMAGE_A1.jpg", "Nikon_D40.jpg", "Nikon_D70.jpg", "Olympus_E-20.jpg",
                         "Panasonic_FZ20.jpg", "Pentax_ist_D.jpg", "Sigma_DP1.jpg"};
  std::vector<std::vector<std::uint8_t>> jpegs;
  for (const char* n : names) {
    jpegs.push_back(read_file_bytes(samples + "/camera-jpeg/" + n));
    if (jpegs.back().size() < 1024) {
      std::fprintf(stderr, "make_corpus: cannot read %s/camera-jpeg/%s\n", samples.c_str(), n);
      return 1;
    }
  }
  const char* ext[] = {"CR2", "NEF", "RW2"};
  std::FILE* manifest = std::fopen((out + "/manifest.txt").c_str(), "w");
  if (!manifest) return 1;
  for (int i = 0; i < count; ++i) {
    raw_builder::RawSpec spec;
    spec.layout = static_cast<raw_builder::Layout>(i % 3);
    spec.jpeg = jpegs[static_cast<std::size_t>(i) % jpegs.size()];
    spec.fillerBytes = size > spec.jpeg.size() + 4096 ? size - spec.jpeg.size() - 4096 : 4096;
    spec.fillerSeed = static_cast<std::uint8_t>(i);
    spec.exif = true;
    std::vector<std::uint8_t> file = raw_builder::build(spec);
    // The preview starts where its first 64 bytes are found.
    auto it = std::search(file.begin(), file.end(), spec.jpeg.begin(), spec.jpeg.begin() + 64);
    char name[64];
    std::snprintf(name, sizeof name, "IMG_%04d.%s", i, ext[i % 3]);
    const std::string path = out + "/" + name;
    if (!raw_builder::write_file(path, file)) return 1;
    std::fprintf(manifest, "%s %zu %zu %d\n", path.c_str(), static_cast<std::size_t>(it - file.begin()),
                 spec.jpeg.size(), i % 3);
  }
  std::fclose(manifest);
  return 0;
}
