#include "platform/picture_decoder.h"

#include <gif_lib.h>
#include <spng.h>
#include <sys/mman.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "support/legacy.h"

namespace plasma {
namespace {

RuntimeError failure(const std::string& what, const std::string& reason) {
  return RuntimeError(ErrorKind::InvalidPicture, what + ": " + reason);
}

void checkCancel(const std::atomic<bool>* cancel, const std::string& what) {
  if (cancel && cancel->load(std::memory_order_relaxed)) throw failure(what, "decoding stopped");
}

void checkSize(const std::string& what, long long w, long long h) {
  if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide) {
    throw failure(what, std::to_string(w) + " x " + std::to_string(h) +
                            " pixels (at most 8192 x 8192 are shown)");
  }
}

std::uint8_t premultiply(unsigned c, unsigned a) { return static_cast<std::uint8_t>((c * a + 127) / 255); }

// Picture pixels live in a mapping of their own, given back to the system the moment the picture
// is dropped: from the heap, the canvas-sized blocks of pictures decoded and dropped one after the
// other left about 8 MB of a 1080p display's peak memory behind as fragments (measured). The
// mapping also starts zeroed, so nothing needs clearing.
const cairo_user_data_key_t kMappingKey{};

struct Mapping {
  void* address;
  std::size_t size;
};

cairo_surface_t* createPictureSurface(int width, int height, bool alpha) {
  const cairo_format_t format = alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24;
  const int stride = cairo_format_stride_for_width(format, width);
  if (stride <= 0 || width <= 0 || height <= 0) return nullptr;
  const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (address == MAP_FAILED) return nullptr;
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(static_cast<unsigned char*>(address), format, width, height, stride);
  auto* mapping = new Mapping{address, size};
  const auto unmap = [](void* data) {
    auto* m = static_cast<Mapping*>(data);
    ::munmap(m->address, m->size);
    delete m;
  };
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_set_user_data(surface, &kMappingKey, mapping, unmap) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    unmap(mapping);
    return nullptr;
  }
  return surface;
}

// The kept top-left part of a picture, written row by row: opaque pictures as RGB24 (a plain copy
// onto the canvas), pictures with transparency as premultiplied ARGB32.
class PictureBuilder {
 public:
  PictureBuilder(int width, int height, bool alpha, const std::string& what)
      : alpha_(alpha) {
    // Parts a file never reaches stay transparent (or black when opaque).
    surface_ = createPictureSurface(width, height, alpha);
    if (!surface_) throw failure(what, "no memory for the picture");
    data_ = cairo_image_surface_get_data(surface_);
    stride_ = cairo_image_surface_get_stride(surface_);
    width_ = width;
    height_ = height;
  }
  ~PictureBuilder() {
    if (surface_) cairo_surface_destroy(surface_);
  }
  PictureBuilder(const PictureBuilder&) = delete;
  PictureBuilder& operator=(const PictureBuilder&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  std::uint32_t* row(int y) { return reinterpret_cast<std::uint32_t*>(data_ + static_cast<std::ptrdiff_t>(y) * stride_); }

  std::uint32_t pixel(unsigned r, unsigned g, unsigned b, unsigned a = 255) const {
    if (!alpha_ || a == 255) return 0xFF000000u | (r << 16) | (g << 8) | b;
    return (std::uint32_t{a} << 24) | (std::uint32_t{premultiply(r, a)} << 16) |
           (std::uint32_t{premultiply(g, a)} << 8) | premultiply(b, a);
  }
  // One row of RGBA bytes, `count` pixels from column 0.
  void putRgba(int y, const unsigned char* rgba, int count) {
    std::uint32_t* out = row(y);
    for (int x = 0; x < count; ++x, rgba += 4) out[x] = pixel(rgba[0], rgba[1], rgba[2], rgba[3]);
  }

  std::shared_ptr<const Picture> finish() {
    cairo_surface_mark_dirty(surface_);
    cairo_surface_t* s = surface_;
    surface_ = nullptr;
    return std::make_shared<Picture>(s);
  }
 private:
  bool alpha_;
  cairo_surface_t* surface_ = nullptr;
  unsigned char* data_ = nullptr;
  int stride_ = 0;
  int width_ = 0;
  int height_ = 0;
};

// ---- PNG (libspng) ----

// Text, colour profiles and other ancillary chunks: no single one larger, and no more in all, is
// kept (libspng decompresses some of them).
constexpr std::size_t kMaxPngChunkBytes = 1u << 20;
constexpr std::size_t kMaxPngChunkCacheBytes = 4u << 20;
// An interlaced PNG spreads every row over seven passes, so all of it is decoded, not only the
// canvas's part; libspng expands low bit depths at about 25 ns a pixel here, so 32 million pixels
// stay within the 2 s a picture may take.
constexpr long long kMaxInterlacedPngPixels = 32LL * 1024 * 1024;

std::shared_ptr<const Picture> decodePng(const unsigned char* data, std::size_t size,
                                         const std::string& what, PictureLimits keep,
                                         const std::atomic<bool>* cancel) {
  std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(0), spng_ctx_free);
  if (!ctx) throw failure(what, "no memory for the PNG decoder");
  const auto check = [&](int status) {
    if (status != 0) throw failure(what, std::string("PNG: ") + spng_strerror(status));
  };
  check(spng_set_image_limits(ctx.get(), kMaxPictureSide, kMaxPictureSide));
  check(spng_set_chunk_limits(ctx.get(), kMaxPngChunkBytes, kMaxPngChunkCacheBytes));
  check(spng_set_png_buffer(ctx.get(), data, size));
  spng_ihdr ihdr{};
  check(spng_get_ihdr(ctx.get(), &ihdr));
  checkSize(what, ihdr.width, ihdr.height);
  if (ihdr.interlace_method != SPNG_INTERLACE_NONE &&
      static_cast<long long>(ihdr.width) * ihdr.height > kMaxInterlacedPngPixels) {
    throw failure(what, "an interlaced PNG of " + std::to_string(ihdr.width) + " x " +
                            std::to_string(ihdr.height) +
                            " pixels (interlaced, at most 32 million pixels are shown)");
  }
  spng_trns trns{};
  const bool alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                     ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                     spng_get_trns(ctx.get(), &trns) == 0;
  const int width = static_cast<int>(ihdr.width);
  const int keptWidth = std::min(width, keep.width);
  const int keptHeight = std::min(static_cast<int>(ihdr.height), keep.height);
  check(spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_PROGRESSIVE | SPNG_DECODE_TRNS));

  PictureBuilder out(keptWidth, keptHeight, alpha, what);
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * 4);
  // An interlaced row arrives in up to seven passes, each with every n-th pixel from a first one.
  constexpr int kPassFirst[7] = {0, 4, 0, 2, 0, 1, 0};
  constexpr int kPassStep[7] = {8, 8, 4, 4, 2, 2, 1};
  const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
  while (true) {
    checkCancel(cancel, what);
    spng_row_info info{};
    int status = spng_get_row_info(ctx.get(), &info);
    if (status == 0) status = spng_decode_row(ctx.get(), row.data(), row.size());
    if (status != 0 && status != SPNG_EOI) check(status);
    const int y = static_cast<int>(info.row_num);
    if (y < keptHeight) {
      if (!interlaced) {
        out.putRgba(y, row.data(), keptWidth);
      } else if (info.pass >= 0 && info.pass < 7) {
        std::uint32_t* dst = out.row(y);
        for (int x = kPassFirst[info.pass]; x < keptWidth; x += kPassStep[info.pass]) {
          const unsigned char* p = row.data() + static_cast<std::size_t>(x) * 4;
          dst[x] = out.pixel(p[0], p[1], p[2], p[3]);
        }
      }
    }
    if (status == SPNG_EOI) break;
    // Rows below the canvas are never decoded (an interlaced picture's last pass needs them all).
    if (!interlaced && y + 1 >= keptHeight) break;
  }
  return out.finish();
}

// ---- JPEG (libjpeg-turbo) ----

// A progressive JPEG is read scan by scan; files with thousands of tiny scans are a known way to
// make a decoder spin for minutes on a few kilobytes.
constexpr int kMaxJpegScans = 500;
// Corrupt-data warnings after which a JPEG counts as damaged.
constexpr int kMaxJpegWarnings = 20;

struct JpegJob {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = {};
  int warnings = 0;
  const std::atomic<bool>* cancel = nullptr;
};

[[noreturn]] void jpegFail(j_common_ptr cinfo) {
  auto* job = static_cast<JpegJob*>(cinfo->client_data);
  if (job->message[0] == '\0') (*cinfo->err->format_message)(cinfo, job->message);
  std::longjmp(job->jump, 1);
}

void jpegMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  auto* job = static_cast<JpegJob*>(cinfo->client_data);
  // A file that ends early is damaged: libjpeg would otherwise fill the rest with grey.
  if (cinfo->err->msg_code == JWRN_JPEG_EOF || ++job->warnings > kMaxJpegWarnings) {
    (*cinfo->err->format_message)(cinfo, job->message);
    std::longjmp(job->jump, 1);
  }
}

void jpegProgress(j_common_ptr cinfo) {
  auto* job = static_cast<JpegJob*>(cinfo->client_data);
  if (job->cancel && job->cancel->load(std::memory_order_relaxed)) {
    std::snprintf(job->message, sizeof job->message, "decoding stopped");
    std::longjmp(job->jump, 1);
  }
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
    std::snprintf(job->message, sizeof job->message, "more than %d scans", kMaxJpegScans);
    std::longjmp(job->jump, 1);
  }
}

// Runs libjpeg between setjmp and its error exits; only plain data lives in this frame, so a
// longjmp skips no destructor. Returns the kept picture's surface, or null with job.message set.
cairo_surface_t* runJpeg(JpegJob& job, const unsigned char* data, std::size_t size, PictureLimits keep,
                         const std::string& what) {
  cairo_surface_t* volatile surface = nullptr;
  jpeg_decompress_struct& cinfo = job.cinfo;
  cinfo.err = jpeg_std_error(&job.errors);
  job.errors.error_exit = jpegFail;
  job.errors.emit_message = jpegMessage;
  cinfo.client_data = &job;
  if (setjmp(job.jump) != 0) {
    if (surface) cairo_surface_destroy(surface);
    jpeg_destroy_decompress(&cinfo);
    return nullptr;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.client_data = &job;
  // Without a backing store, coefficient buffers beyond this fail instead of being allocated.
  cinfo.mem->max_memory_to_use = kMaxJpegWorkBytes;
  job.progress.progress_monitor = jpegProgress;
  cinfo.progress = &job.progress;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > kMaxPictureSide ||
      cinfo.image_height > kMaxPictureSide) {
    std::snprintf(job.message, sizeof job.message, "%u x %u pixels (at most 8192 x 8192 are shown)",
                  cinfo.image_width, cinfo.image_height);
    jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
  const int keptWidth = std::min(static_cast<int>(cinfo.image_width), keep.width);
  const int keptHeight = std::min(static_cast<int>(cinfo.image_height), keep.height);
  jpeg_start_decompress(&cinfo);
  if (static_cast<int>(cinfo.output_width) > keptWidth) {
    JDIMENSION x = 0, w = static_cast<JDIMENSION>(keptWidth);
    jpeg_crop_scanline(&cinfo, &x, &w);  // may widen to a block boundary
  }
  surface = createPictureSurface(keptWidth, keptHeight, false);
  if (!surface) {
    std::snprintf(job.message, sizeof job.message, "no memory for the picture");
    jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  }
  unsigned char* pixels = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.output_width * 4, 1);
  while (static_cast<int>(cinfo.output_scanline) < keptHeight) {
    const int y = static_cast<int>(cinfo.output_scanline);
    jpegProgress(reinterpret_cast<j_common_ptr>(&cinfo));
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1) {
      std::snprintf(job.message, sizeof job.message, "no scanline");
      jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
    }
    auto* out = reinterpret_cast<std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(y) * stride);
    const unsigned char* in = row[0];
    if (!cmyk) {
      std::memcpy(out, in, static_cast<std::size_t>(keptWidth) * 4);
    } else {
      // Adobe writes CMYK inverted: each byte already is 255 - ink.
      for (int x = 0; x < keptWidth; ++x, in += 4) {
        const unsigned k = in[3];
        out[x] = 0xFF000000u | ((in[0] * k / 255) << 16) | ((in[1] * k / 255) << 8) | (in[2] * k / 255);
      }
    }
  }
  // Rows below the kept part are never decoded.
  jpeg_abort_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  (void)what;
  return surface;
}

std::shared_ptr<const Picture> decodeJpeg(const unsigned char* data, std::size_t size,
                                          const std::string& what, PictureLimits keep,
                                          const std::atomic<bool>* cancel) {
  auto job = std::make_unique<JpegJob>();
  job->cancel = cancel;
  cairo_surface_t* surface = runJpeg(*job, data, size, keep, what);
  if (!surface) throw failure(what, std::string("JPEG: ") + job->message);
  cairo_surface_mark_dirty(surface);
  return std::make_shared<Picture>(surface);
}

// ---- GIF (giflib): the first frame, as a still picture ----

struct GifInput {
  const unsigned char* data;
  std::size_t size;
  std::size_t at;
};

int readGif(GifFileType* gif, GifByteType* out, int length) {
  auto* in = static_cast<GifInput*>(gif->UserData);
  const std::size_t n = std::min(static_cast<std::size_t>(std::max(length, 0)), in->size - in->at);
  std::memcpy(out, in->data + in->at, n);
  in->at += n;
  return static_cast<int>(n);
}

std::shared_ptr<const Picture> decodeGif(const unsigned char* data, std::size_t size,
                                         const std::string& what, PictureLimits keep,
                                         const std::atomic<bool>* cancel) {
  GifInput input{data, size, 0};
  int error = 0;
  std::unique_ptr<GifFileType, void (*)(GifFileType*)> gif(
      DGifOpen(&input, readGif, &error), [](GifFileType* g) { DGifCloseFile(g, nullptr); });
  const auto fail = [&](const char* reason) {
    const char* detail = gif ? GifErrorString(gif->Error) : GifErrorString(error);
    return failure(what, std::string("GIF: ") + reason + (detail ? std::string(" (") + detail + ")" : ""));
  };
  if (!gif) throw fail("not readable");
  checkSize(what, gif->SWidth, gif->SHeight);
  int transparent = NO_TRANSPARENT_COLOR;
  while (true) {
    checkCancel(cancel, what);
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) != GIF_OK) throw fail("damaged");
    if (record == TERMINATE_RECORD_TYPE) throw fail("no picture in the file");
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK) throw fail("damaged extension");
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
        GraphicsControlBlock gcb{};
        if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (block) {
        checkCancel(cancel, what);
        if (DGifGetExtensionNext(gif.get(), &block) != GIF_OK) throw fail("damaged extension");
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif.get()) != GIF_OK) throw fail("damaged frame");
    const GifImageDesc& frame = gif->Image;
    // The frame must lie within the logical screen, which has passed the size check: a frame is
    // never decoded at a size the screen does not admit.
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0 ||
        frame.Left + frame.Width > gif->SWidth || frame.Top + frame.Height > gif->SHeight) {
      throw failure(what, "GIF: a frame of " + std::to_string(frame.Width) + " x " +
                              std::to_string(frame.Height) + " at " + std::to_string(frame.Left) + "," +
                              std::to_string(frame.Top) + " lies outside its " +
                              std::to_string(gif->SWidth) + " x " + std::to_string(gif->SHeight) +
                              " screen");
    }
    const ColorMapObject* colours = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!colours || !colours->Colors) throw fail("no colour table");
    const bool covers = frame.Left == 0 && frame.Top == 0 && frame.Width == gif->SWidth &&
                        frame.Height == gif->SHeight;
    const bool alpha = transparent != NO_TRANSPARENT_COLOR || !covers;
    const int keptWidth = std::min(gif->SWidth, keep.width);
    const int keptHeight = std::min(gif->SHeight, keep.height);
    PictureBuilder out(keptWidth, keptHeight, alpha, what);
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    // Interlaced rows arrive in four passes: every 8th from 0, every 8th from 4, every 4th from
    // 2, every 2nd from 1.
    constexpr int kPassFirst[4] = {0, 4, 2, 1};
    constexpr int kPassStep[4] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int first = frame.Interlace ? kPassFirst[pass] : 0;
      const int step = frame.Interlace ? kPassStep[pass] : 1;
      for (int r = first; r < frame.Height; r += step) {
        const int y = frame.Top + r;
        // Rows below the canvas are never decoded, unless later passes still need earlier rows.
        if (!frame.Interlace && y >= keptHeight) return out.finish();
        checkCancel(cancel, what);
        if (DGifGetLine(gif.get(), line.data(), frame.Width) != GIF_OK) throw fail("damaged pixels");
        if (y >= keptHeight) continue;
        std::uint32_t* dst = out.row(y);
        for (int x = 0; frame.Left + x < keptWidth && x < frame.Width; ++x) {
          const int index = line[static_cast<std::size_t>(x)];
          if (index == transparent) continue;  // stays transparent
          if (index >= colours->ColorCount) {
            dst[frame.Left + x] = out.pixel(0, 0, 0);
            continue;
          }
          const GifColorType& c = colours->Colors[index];
          dst[frame.Left + x] = out.pixel(c.Red, c.Green, c.Blue);
        }
      }
    }
    return out.finish();
  }
}

// ---- BMP ----

unsigned le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

// One channel of a bit-field pixel, scaled to 0..255.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;
  explicit Channel(std::uint32_t m) : mask(m) {
    if (!mask) return;
    while (!((mask >> shift) & 1)) ++shift;
    max = mask >> shift;
  }
  unsigned operator()(std::uint32_t v) const {
    if (!max) return 0;
    return static_cast<unsigned>(((v & mask) >> shift) * 255u / max);
  }
};

std::shared_ptr<const Picture> decodeBmp(const unsigned char* d, std::size_t n, const std::string& what,
                                         PictureLimits keep, const std::atomic<bool>* cancel) {
  const auto fail = [&](const std::string& reason) { return failure(what, "BMP: " + reason); };
  if (n < 26) throw fail("truncated header");
  const std::uint32_t pixelsAt = le32(d + 10);
  const std::uint32_t header = le32(d + 14);
  long long width = 0, height = 0;
  unsigned bpp = 0;
  std::uint32_t compression = 0, paletteUsed = 0;
  std::size_t paletteEntry = 4;
  if (header == 12) {
    width = le16(d + 18);
    height = static_cast<std::int16_t>(le16(d + 20));
    bpp = le16(d + 24);
    paletteEntry = 3;
  } else if (header >= 40 && header <= 124) {
    if (n < 14 + std::size_t{header}) throw fail("truncated header");
    width = static_cast<std::int32_t>(le32(d + 18));
    height = static_cast<std::int32_t>(le32(d + 22));
    bpp = le16(d + 28);
    compression = le32(d + 30);
    paletteUsed = le32(d + 46);
  } else {
    throw fail("unknown header of " + std::to_string(header) + " bytes");
  }
  const bool topDown = height < 0;
  height = topDown ? -height : height;
  checkSize(what, width, height);
  std::uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
  if (bpp == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  if (compression == 3 && (bpp == 16 || bpp == 32)) {
    // The masks follow a 40-byte header, or are part of a longer one.
    if (n < 14 + 40 + 12) throw fail("truncated header");
    for (int i = 0; i < 3; ++i) masks[i] = le32(d + 54 + 4 * i);
  } else if (compression != 0) {
    throw fail("compression " + std::to_string(compression) + " is not supported");
  }
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    throw fail(std::to_string(bpp) + " bits per pixel is not supported");
  }
  const std::size_t paletteAt = 14 + std::size_t{header} + (compression == 3 && header == 40 ? 12 : 0);
  std::size_t paletteCount = 0;
  if (bpp <= 8) {
    paletteCount = paletteUsed ? std::min<std::size_t>(paletteUsed, std::size_t{1} << bpp) : std::size_t{1} << bpp;
    if (paletteAt + paletteCount * paletteEntry > n) throw fail("truncated colour table");
  }
  const std::size_t stride = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
  if (pixelsAt > n || stride * static_cast<std::size_t>(height) > n - pixelsAt) throw fail("truncated pixels");

  const int keptWidth = std::min(static_cast<int>(width), keep.width);
  const int keptHeight = std::min(static_cast<int>(height), keep.height);
  PictureBuilder out(keptWidth, keptHeight, false, what);
  const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
  for (int y = 0; y < keptHeight; ++y) {
    checkCancel(cancel, what);
    const long long fileRow = topDown ? y : height - 1 - y;
    const unsigned char* in = d + pixelsAt + stride * static_cast<std::size_t>(fileRow);
    std::uint32_t* dst = out.row(y);
    for (int x = 0; x < keptWidth; ++x) {
      switch (bpp) {
        case 24: dst[x] = out.pixel(in[3 * x + 2], in[3 * x + 1], in[3 * x]); break;
        case 32:
        case 16: {
          const std::uint32_t v = bpp == 32 ? le32(in + 4 * x) : le16(in + 2 * x);
          dst[x] = out.pixel(red(v), green(v), blue(v));
          break;
        }
        default: {
          const int perByte = 8 / static_cast<int>(bpp);
          const unsigned byte = in[x / perByte];
          const int shift = 8 - static_cast<int>(bpp) * (x % perByte + 1);
          const std::size_t index = (byte >> shift) & ((1u << bpp) - 1);
          if (index >= paletteCount) {
            dst[x] = out.pixel(0, 0, 0);
          } else {
            const unsigned char* c = d + paletteAt + index * paletteEntry;
            dst[x] = out.pixel(c[2], c[1], c[0]);
          }
        }
      }
    }
  }
  return out.finish();
}

}  // namespace

std::shared_ptr<const Picture> decodePicture(const unsigned char* data, std::size_t size,
                                             const std::string& what, PictureLimits keep,
                                             const std::atomic<bool>* cancel) {
  keep.width = std::clamp(keep.width, 1, kMaxPictureSide);
  keep.height = std::clamp(keep.height, 1, kMaxPictureSide);
  if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) return decodePng(data, size, what, keep, cancel);
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return decodeJpeg(data, size, what, keep, cancel);
  if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0)) {
    return decodeGif(data, size, what, keep, cancel);
  }
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') return decodeBmp(data, size, what, keep, cancel);
  throw RuntimeError(ErrorKind::InvalidPicture, what + " is not a BMP, PNG, JPEG or GIF picture");
}

}  // namespace plasma
