// Structural limits of the RAW probe. Every loop and every recursion over
// file-controlled structure is bounded by one of these, so that a hostile
// file is probed in bounded time and memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace probe_limits {

// TIFF directories summarised per probe; the eleventh is not read.
inline constexpr unsigned kMaxTiffDirs = 10;

// Entries of one TIFF directory; a directory claiming more is skipped whole.
inline constexpr unsigned kMaxTiffDirEntries = 512;

// Nested readers (TIFF sub-directories, maker notes, CIFF heaps, Leaf chains,
// RIFF lists) may call each other at most this deep; real files nest < 8.
inline constexpr int kMaxNestingDepth = 24;

// Directory entries, records, chunks and packets visited in one probe. Real
// files visit a few thousand; this stops self-referencing structures that
// the depth limit alone would let grow exponentially.
inline constexpr std::uint32_t kWorkBudget = 200000;

// Entries of a maker note; more means the note is not a directory.
inline constexpr unsigned kMaxMakerNoteEntries = 1000;

// Kodak private directory entries.
inline constexpr unsigned kMaxKodakDirEntries = 1024;

// CIFF heap directory entries.
inline constexpr unsigned kMaxCiffEntries = 100;

// X3F property pairs read.
inline constexpr unsigned kMaxX3fProperties = 256;

// RAF directory records.
inline constexpr unsigned kMaxRafRecords = 255;

// Boxes of a CR3 (ISO base-media) file visited in one probe. A camera file
// has about eighty; the bound keeps a file of millions of tiny boxes cheap.
inline constexpr unsigned kMaxCr3Boxes = 4096;

// Levels of CR3 boxes the reader descends. The deepest box it needs (the
// sample table of the first track: moov/trak/mdia/minf/stbl/co64) lies on
// level six counting the top as one.
inline constexpr int kMaxCr3BoxDepth = 8;

// Embedded images remembered per probe for reports (thumbnails, previews,
// full-size JPEGs, TIFF image directories). Camera files hold up to five or
// six; later ones are not listed.
inline constexpr unsigned kMaxEmbeddedImages = 16;

// Size of the segment buffer of the JPEG marker reader (a segment length
// field is 16 bits, so no payload is larger).
inline constexpr std::size_t kJpegSegmentBuffer = 65536;

// The shortest preview worth a JPEG: the start marker, one segment's marker
// and length, and the five bytes that tell an Exif segment. Shorter ones are
// placeholders, never previews.
inline constexpr std::uint32_t kMinPreviewLength = 11;

// Bytes the probe keeps in a read window; larger reads go straight to the
// file so a multi-megabyte preview is copied once.
inline constexpr std::size_t kReadWindow = 32768;

// Read windows kept at once. A directory walk reads an entry, then its
// value somewhere else, then the next entry: with one window each step back
// reloaded 32 KiB, and a directory of 65,535 entries whose values lie at
// the end of the file cost gigabytes of input. Two windows serve that walk;
// the others keep a parent directory, or a second value area, from being
// thrown out by it.
inline constexpr std::size_t kReadWindows = 4;

// What one probe of a file may read in all: kInputBudgetFactor times the
// file plus kInputBudgetSlack. A probe that reads on through the file, then
// copies its preview out, reads it about twice; rereading headers costs
// small files more, relative to their size, hence the slack. Crafted
// layouts that would send the windows back and forth between more places
// than they keep stop here, with reads coming back short, as at the end of
// the file, rather than reading gigabytes.
inline constexpr std::uint64_t kInputBudgetFactor = 4;
inline constexpr std::uint64_t kInputBudgetSlack = 1u << 20;

// Largest TIFF structure of an Exif APP1 segment: the segment's 16-bit
// length counts itself (2 bytes) and the "Exif\0\0" head (6 bytes) too.
inline constexpr std::size_t kMaxExifTiffBytes = 65535 - 2 - 6;

// Segments before the scan walked in a preview whose Exif segment is being
// replaced; real previews have fewer than twenty. The rest is kept as it is.
inline constexpr unsigned kMaxPreviewSegments = 256;

// Bytes the window loads for a read away from it: about one header. Walkers
// of chunks and boxes read 8 to 16 bytes and jump on; with this, a video of
// 20,000 chunks costs 10 MB of input rather than 640 MB. A read that carries
// on from the window (less than this beyond its end) loads the whole window.
inline constexpr std::size_t kHeaderRead = 512;

}  // namespace probe_limits
