// The container readers of the probe. Each writes what it finds into
// g_probe and reads the file through the primitives of probe_input.h.
#pragma once

#include <cstdint>

// TIFF family (tiff_directory.cpp, exif_gps_dirs.cpp, kodak_dir.cpp).
int read_tiff_file(std::uint32_t base);
int read_tiff_dir(std::uint32_t base);
void read_exif_dir(std::uint32_t base);
void read_gps_dir(std::uint32_t base);
void read_kodak_dir(std::uint32_t base);

// Minolta block container (minolta_blocks.cpp).
void read_minolta_blocks(std::uint32_t base);

// JPEG segments and companion JPEG files (jpeg_segments.cpp, external_jpeg.cpp).
int read_jpeg_segments(std::uint32_t offset);
void parse_external_jpeg();

// Choice of raw and preview directories after a TIFF structure was read
// (preview_selection.cpp).
void select_raw_and_preview();

// After a probe: when the preview chosen is a JPEG the file does not hold
// whole (a file cut short), or none was chosen, the largest JPEG the file
// does hold whole among the embedded images becomes the preview
// (preview_selection.cpp). Moves the read position.
void choose_largest_whole_jpeg();

// After a probe: does the state name a JPEG preview the file holds whole
// and that can be handed out (preview_extract.cpp). The one rule behind
// both entry points and the report; moves the read position.
bool has_usable_jpeg_preview();

// Maker notes (maker_note.cpp).
void read_maker_note(std::uint32_t base, unsigned upper_tag);
void read_preview_note(std::uint32_t base, unsigned offset_tag, unsigned length_tag);

// CIFF heaps (ciff_heap.cpp).
void read_ciff_heap(std::uint32_t start, std::uint32_t length);

// X3F section directory (x3f_directory.cpp) and Leaf packets (leaf_packets.cpp).
void read_x3f_directory();
void read_leaf_packets(std::uint32_t offset);

// Other containers, one file each.
void read_phase_one_header(std::uint32_t base);
void read_sinar_ia_header();
void read_rollei_header();
void read_riff_chunk();
void read_smal_header(std::uint32_t offset, std::int32_t file_length);
void read_cine_header();
void read_raf_directory(std::uint32_t offset);

// Canon CR3, an ISO base-media box tree (cr3_boxes.cpp): is_cr3_head tests
// the first 32 bytes of the file for the "crx " brand; read_cr3_file reads
// names and shot data from CMT1/CMT2/CMT4 and picks the largest whole JPEG.
bool is_cr3_head(const std::uint8_t* head);
void read_cr3_file();

// The top-level probe (run_probe.cpp).
void run_probe();
