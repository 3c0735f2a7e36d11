#include "test_support/picture_files.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <jpeglib.h>

namespace plasma::test {
namespace {

void be32(Bytes& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<unsigned char>(v >> s));
}
void le16(Bytes& out, unsigned v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}
void le32(Bytes& out, std::uint32_t v) {
  le16(out, v & 0xFFFF);
  le16(out, v >> 16);
}

void chunk(Bytes& out, const char* type, const Bytes& data) {
  be32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  be32(out, static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

}  // namespace

Bytes pngFile(int width, int height, PngKind kind, bool interlaced, const PixelFn& pixel) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  Bytes ihdr;
  be32(ihdr, static_cast<std::uint32_t>(width));
  be32(ihdr, static_cast<std::uint32_t>(height));
  ihdr.push_back(kind == PngKind::GrayOneBit ? 1 : 8);
  ihdr.push_back(kind == PngKind::Rgb ? 2 : kind == PngKind::Rgba ? 6 : 0);
  ihdr.insert(ihdr.end(), {0, 0, static_cast<unsigned char>(interlaced ? 1 : 0)});
  chunk(out, "IHDR", ihdr);

  Bytes raw;
  const auto scanline = [&](int y, int x0, int dx) {
    raw.push_back(0);  // no filter
    if (kind == PngKind::GrayOneBit) {
      unsigned char byte = 0;
      int bits = 0;
      for (int x = x0; x < width; x += dx) {
        byte = static_cast<unsigned char>((byte << 1) | (pixel(x, y).r >= 128 ? 1 : 0));
        if (++bits == 8) raw.push_back(byte), byte = 0, bits = 0;
      }
      if (bits) raw.push_back(static_cast<unsigned char>(byte << (8 - bits)));
      return;
    }
    for (int x = x0; x < width; x += dx) {
      const Rgba p = pixel(x, y);
      raw.insert(raw.end(), {p.r, p.g, p.b});
      if (kind == PngKind::Rgba) raw.push_back(p.a);
    }
  };
  if (!interlaced) {
    for (int y = 0; y < height; ++y) scanline(y, 0, 1);
  } else {
    const int x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
    const int y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    for (int p = 0; p < 7; ++p) {
      if (x0[p] >= width) continue;
      for (int y = y0[p]; y < height; y += dy[p]) scanline(y, x0[p], dx[p]);
    }
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes idat(size);
  if (compress2(idat.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) {
    throw std::runtime_error("zlib");
  }
  idat.resize(size);
  chunk(out, "IDAT", idat);
  chunk(out, "IEND", {});
  return out;
}

std::size_t pngIdatOffset(const Bytes& png) {
  std::size_t at = 8;
  while (at + 8 <= png.size()) {
    if (std::memcmp(png.data() + at + 4, "IDAT", 4) == 0) return at;
    const std::size_t len = (std::size_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
    at += 12 + len;
  }
  throw std::runtime_error("no IDAT");
}

Bytes jpegFile(int width, int height, bool progressive, bool grey, const PixelFn& pixel) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long memSize = 0;
  jpeg_mem_dest(&c, &mem, &memSize);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = grey ? 1 : 3;
  c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
  while (c.next_scanline < c.image_height) {
    const int y = static_cast<int>(c.next_scanline);
    for (int x = 0; x < width; ++x) {
      const Rgba p = pixel(x, y);
      if (grey) {
        row[static_cast<std::size_t>(x)] = p.r;
      } else {
        row[static_cast<std::size_t>(x) * 3] = p.r;
        row[static_cast<std::size_t>(x) * 3 + 1] = p.g;
        row[static_cast<std::size_t>(x) * 3 + 2] = p.b;
      }
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(mem, mem + memSize);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

Bytes gifFile(int screenW, int screenH, const GifFrame& frame, const std::vector<Rgba>& palette,
              int transparent, const std::function<int(int x, int y)>& index) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  le16(out, static_cast<unsigned>(screenW));
  le16(out, static_cast<unsigned>(screenH));
  out.insert(out.end(), {0xF7, 0, 0});  // global table of 256 colours
  for (int i = 0; i < 256; ++i) {
    const Rgba c = i < static_cast<int>(palette.size()) ? palette[static_cast<std::size_t>(i)] : Rgba{0, 0, 0, 255};
    out.insert(out.end(), {c.r, c.g, c.b});
  }
  if (transparent >= 0) {
    out.insert(out.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<unsigned char>(transparent), 0});
  }
  out.push_back(0x2C);
  le16(out, static_cast<unsigned>(frame.left));
  le16(out, static_cast<unsigned>(frame.top));
  le16(out, static_cast<unsigned>(frame.width));
  le16(out, static_cast<unsigned>(frame.height));
  out.push_back(frame.interlaced ? 0x40 : 0);
  out.push_back(8);  // LZW minimum code size

  // 9-bit codes, a clear code before the table would grow to 10 bits.
  Bytes lzw;
  std::uint32_t bits = 0;
  int nbits = 0;
  const auto put = [&](unsigned code) {
    bits |= code << nbits;
    nbits += 9;
    while (nbits >= 8) lzw.push_back(static_cast<unsigned char>(bits)), bits >>= 8, nbits -= 8;
  };
  int sinceClear = 254;
  const auto emit = [&](unsigned code) {
    if (sinceClear == 254) put(256), sinceClear = 0;
    put(code);
    ++sinceClear;
  };
  std::vector<int> rows;
  if (frame.interlaced) {
    const int first[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int p = 0; p < 4; ++p) {
      for (int r = first[p]; r < frame.height; r += step[p]) rows.push_back(r);
    }
  } else {
    for (int r = 0; r < frame.height; ++r) rows.push_back(r);
  }
  for (int r : rows) {
    for (int x = 0; x < frame.width; ++x) emit(static_cast<unsigned>(index(x, r)) & 0xFF);
  }
  put(257);
  if (nbits) lzw.push_back(static_cast<unsigned char>(bits));
  for (std::size_t at = 0; at < lzw.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, lzw.size() - at);
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), lzw.begin() + static_cast<std::ptrdiff_t>(at), lzw.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  out.push_back(0);
  out.push_back(0x3B);
  return out;
}

Bytes bmpFile(int width, int height, int bpp, const PixelFn& pixel, const std::vector<Rgba>& palette) {
  const std::size_t stride = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
  const std::size_t colours = bpp == 8 ? 256 : 0;
  const std::uint32_t offset = static_cast<std::uint32_t>(14 + 40 + colours * 4);
  Bytes out = {'B', 'M'};
  le32(out, static_cast<std::uint32_t>(offset + stride * static_cast<std::size_t>(height)));
  le32(out, 0);
  le32(out, offset);
  le32(out, 40);
  le32(out, static_cast<std::uint32_t>(width));
  le32(out, static_cast<std::uint32_t>(height));
  le16(out, 1);
  le16(out, static_cast<unsigned>(bpp));
  for (int i = 0; i < 6; ++i) le32(out, 0);
  for (std::size_t i = 0; i < colours; ++i) {
    const Rgba c = i < palette.size() ? palette[i] : Rgba{0, 0, 0, 255};
    out.insert(out.end(), {c.b, c.g, c.r, 0});
  }
  for (int y = height - 1; y >= 0; --y) {
    const std::size_t start = out.size();
    for (int x = 0; x < width; ++x) {
      const Rgba p = pixel(x, y);
      if (bpp == 8) {
        out.push_back(p.r);
      } else {
        out.insert(out.end(), {p.b, p.g, p.r});
      }
    }
    out.resize(start + stride, 0);
  }
  return out;
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

}  // namespace plasma::test
