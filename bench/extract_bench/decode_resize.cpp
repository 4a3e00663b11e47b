// The baseline for scaled copies: decode every preview at full size,
// resample it into the box with the same library and kernel the program
// uses (pixman, separable Lanczos-3), encode at quality 95 and write it.
//   decode_resize MANIFEST OUT_DIR BOX_W BOX_H
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <pixman.h>

static void fit(int w, int h, int mw, int mh, int& nw, int& nh) {
  nh = h * mw / w;
  if (nh > mh) {
    nw = w * mh / h;
    nh = mh;
  } else {
    nw = mw;
  }
}

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  std::ifstream manifest(argv[1]);
  const std::string out = argv[2];
  const int boxW = std::atoi(argv[3]), boxH = std::atoi(argv[4]);
  std::string line;
  std::vector<unsigned char> jpeg;
  int n = 0;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string path;
    std::size_t offset = 0, length = 0;
    if (!(fields >> path >> offset >> length)) continue;
    jpeg.resize(length);
    int in = open(path.c_str(), O_RDONLY);
    if (in < 0 || pread(in, jpeg.data(), length, static_cast<off_t>(offset)) != static_cast<ssize_t>(length)) return 1;
    close(in);

    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(length));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGRX;  // x8r8g8b8 in memory on little-endian hosts
    jpeg_start_decompress(&d);
    const int W = static_cast<int>(d.output_width), H = static_cast<int>(d.output_height);
    std::vector<uint32_t> pixels(static_cast<std::size_t>(W) * H);
    while (d.output_scanline < d.output_height) {
      JSAMPROW row = reinterpret_cast<JSAMPROW>(&pixels[static_cast<std::size_t>(d.output_scanline) * W]);
      jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);

    int w = W, h = H;
    if (W > boxW || H > boxH) fit(W, H, boxW, boxH, w, h);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, pixels.data(), W * 4);
    std::vector<uint32_t> scaled(static_cast<std::size_t>(w) * h);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, w, h, scaled.data(), w * 4);
    pixman_transform_t t;
    double sx = static_cast<double>(W) / w, sy = static_cast<double>(H) / h;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy));
    int nparams = 0;
    pixman_fixed_t* params = pixman_filter_create_separable_convolution(
        &nparams, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy), PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE,
        PIXMAN_KERNEL_LANCZOS3, PIXMAN_KERNEL_LANCZOS3, 4, 4);
    pixman_image_set_transform(src, &t);
    pixman_image_set_filter(src, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, nparams);
    pixman_image_set_repeat(src, PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, w, h);
    std::free(params);
    pixman_image_unref(src);
    pixman_image_unref(dst);

    jpeg_compress_struct c;
    jpeg_error_mgr cerr;
    c.err = jpeg_std_error(&cerr);
    jpeg_create_compress(&c);
    unsigned char* encoded = nullptr;
    unsigned long encodedSize = 0;
    jpeg_mem_dest(&c, &encoded, &encodedSize);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 4;
    c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = reinterpret_cast<JSAMPROW>(&scaled[static_cast<std::size_t>(c.next_scanline) * w]);
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);

    std::string target = out + "/scaled_" + std::to_string(n++) + ".jpg";
    int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0 || write(fd, encoded, encodedSize) != static_cast<ssize_t>(encodedSize)) return 1;
    close(fd);
    std::free(encoded);
  }
  return 0;
}
