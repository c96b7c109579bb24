#pragma once
// The entries of the two image libraries, libcrde2000.so (probe, readers,
// writers, depth conversion, annotation layer) and libisp2000.so (colour
// reduction). The program loads them at run time and looks every entry up by
// the name it has here, so these declarations are the whole contract: C
// linkage, fixed-width integers, and DIB blocks as one malloc'd allocation.
//
// A DIB block ("packed DIB") is the platform layout the controls read:
//
//   offset  size  field
//   0       4     header size (40)
//   4       4     width in pixels, signed
//   8       4     height in pixels, signed; positive = rows stored bottom-up
//   12      2     planes (1)
//   14      2     bits per pixel: 1, 4, 8, 16, 24 or 32
//   16      4     compression: 0 none, 1 run-length 8 bit, 2 run-length 4 bit
//   20      4     image size in bytes (0 allowed: height x row size)
//   24      4     horizontal pixels per metre
//   28      4     vertical pixels per metre
//   32      4     colours used (0 = the full table for the depth)
//   36      4     colours important
//   40      4 x n colour table, each entry blue, green, red, 0
//   ...           pixel rows, each padded to a multiple of 4 bytes
//
// Row size = ((width x bits per pixel + 31) div 32) x 4. All integers are
// little-endian.
//
// Results: an entry answering int succeeds with a value above 0; 0 or less
// is an error whose code is the result as an unsigned 16-bit number, and
// "errortext" gives its text. Entries answering a block answer null on
// failure. No entry lets a C++ exception out.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  IMG_DIB_HEADER_SIZE = 40,
  IMG_NAME_BUFFER = 6,     // "streaminfo" format name, zero-terminated
  IMG_CLASS_BUFFER = 512,  // "streaminfo" format class, zero-terminated
};

// Header offsets inside a block.
enum {
  IMG_DIB_OFF_HEADER_SIZE = 0,
  IMG_DIB_OFF_WIDTH = 4,
  IMG_DIB_OFF_HEIGHT = 8,
  IMG_DIB_OFF_PLANES = 12,
  IMG_DIB_OFF_BITS = 14,
  IMG_DIB_OFF_COMPRESSION = 16,
  IMG_DIB_OFF_IMAGE_SIZE = 20,
  IMG_DIB_OFF_XPELS = 24,
  IMG_DIB_OFF_YPELS = 28,
  IMG_DIB_OFF_CLR_USED = 32,
  IMG_DIB_OFF_CLR_IMPORTANT = 36,
};

// One DIB block: `size` bytes of packed DIB at `bytes`. Made by img_dib_alloc
// (zeroed) and released with free(), by whichever side holds it last.
typedef struct img_dib {
  uint32_t size;
  uint32_t reserved;  // keeps `bytes` 8-byte aligned; always 0
  unsigned char bytes[];
} img_dib;

static inline img_dib* img_dib_alloc(uint32_t size) {
  img_dib* d = (img_dib*)calloc(1, sizeof(img_dib) + (size_t)size);
  if (d) d->size = size;
  return d;
}

// Answers 1 to go on, 0 to cancel. `control` is passed through untouched.
typedef int (*img_progress_fn)(uint16_t percent, void* control);

// Annotation layer callbacks; this build registers them and never calls them.
typedef void (*img_anno_fn)(void* control);

// ---- libcrde2000.so ------------------------------------------------------

// The text of an error code; answers its length (without the terminator).
int errortext(uint16_t code, char* buffer, int32_t size);

// Header probe: format name ("PNG", "JPEG", "GIF", "BMP", "PCX", "TGA",
// "TIFF"), class (e.g. "RGB", "PALETTE", "GRAY"), size, bits per pixel and
// two values the controls keep and never read: extra1 the colour table's
// entries (0 without one), extra2 PNG interlace, JPEG frame type (SOF - 0xC0),
// GIF interlace, BMP compression, PCX planes, TGA image type or TIFF pages.
// It checks the whole header against the bytes and the size limits (each
// side at most 16384, at most 64 Mi pixels), so a file it accepts can be
// handed to the reader; a truncated or hostile file is refused here.
int streaminfo(const unsigned char* bytes, int32_t count, char name[IMG_NAME_BUFFER],
               int32_t* width, int32_t* height, int16_t* bits, int16_t* extra1,
               int16_t* extra2, char klass[IMG_CLASS_BUFFER], int32_t reserved);

// One page (1-based) of a TIFF: its size, compression code, page count, bits.
// A page past the last answers the last page (and the count).
int getinfostream(const unsigned char* bytes, int32_t count, int16_t page, int32_t* width,
                  int32_t* height, int32_t* compression, int32_t* spare, int16_t* page_count,
                  int16_t* bits);

int getdxfinfostream(const unsigned char* bytes, int32_t count, int32_t* width,
                     int32_t* height, int16_t* bits);

// Readers: decode `count` bytes into a new block at `depth` bits per pixel
// (0 = 4 bits with the fixed 16-colour VGA palette, 1, 4, 8 or 24; 16 and
// 32 also give 24), dithering when reducing if `dither`. The block is plain
// and bottom-up; a palette picture whose table fits the depth keeps it,
// others get the colour reduction of ReduceDib. An alpha channel is blended
// over white (a GIF's transparent index keeps its table colour). The
// progress callback hears 0 first and 100 last; answering 0 cancels.
int rdjpgstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t scale,
                   int16_t dither, img_dib** out, void* palette, void* control,
                   img_progress_fn progress, int32_t reserved);
int rdbmpstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither,
                   img_dib** out, void* palette, void* control, img_progress_fn progress,
                   int32_t reserved);
int rdpngstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither,
                   img_dib** out, void* palette, void* control, img_progress_fn progress,
                   int32_t reserved);
int rdgifstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither,
                   img_dib** out, void* palette, void* control, img_progress_fn progress,
                   int32_t reserved);
int rdpcxstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither,
                   img_dib** out, void* palette, void* control, img_progress_fn progress,
                   int32_t reserved);
int readtgafilestreamdib(const unsigned char* bytes, int32_t count, int16_t depth,
                         int16_t dither, img_dib** out, void* palette, void* control,
                         img_progress_fn progress, int32_t reserved);
int readepsfiledibstream(const unsigned char* bytes, int32_t count, int16_t depth,
                         int16_t dither, img_dib** out, void* palette, void* control,
                         img_progress_fn progress, int32_t reserved);
int readtiffiledibstream(const unsigned char* bytes, int32_t count, int16_t depth,
                         int16_t dither, int16_t page, img_dib** out, void* control,
                         img_progress_fn progress, int32_t reserved);
int readpcdfiledibstream(const unsigned char* bytes, int32_t count, int16_t depth,
                         int16_t dither, int16_t mode, img_dib** out, void* control,
                         img_progress_fn progress, int32_t reserved);
// The DXF reader hands back a bitmap and palette of the platform; this build
// has no DXF reader and always answers an error.
int readdxftoddbstream(const unsigned char* bytes, int32_t count, int16_t depth,
                       int16_t dither, void** bitmap, void** palette, void* control,
                       img_progress_fn progress, int32_t reserved);

// Depth increases; each answers a new block or null. The source stays the
// caller's.
img_dib* DIB1to4(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2,
                 int32_t r3, void* control, img_progress_fn progress);
img_dib* DIB1To8(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2,
                 int32_t r3, void* control, img_progress_fn progress);
img_dib* DIB1To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2,
                  int32_t r3, void* control, img_progress_fn progress);
img_dib* DIB4To8(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2,
                 int32_t r3, void* control, img_progress_fn progress);
img_dib* DIB4To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2,
                  int32_t r3, void* control, img_progress_fn progress);
img_dib* DIB8To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2,
                  int32_t r3, void* control, img_progress_fn progress);
img_dib* DIB16To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2,
                   int32_t r3, void* control, img_progress_fn progress);
img_dib* DIB32To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2,
                   int32_t r3, void* control, img_progress_fn progress);

// Run-length coded blocks (compression 1 or 2) to an uncompressed block of
// the same depth and colour table, in *out (a plain block comes back as a
// copy). `palette` is set to null: this platform keeps colours in the block.
int DibtoDdb(const img_dib* dib, img_dib** out, void** palette);

// Writers: encode a block into `buffer` (capacity `size`); *written receives
// the byte count. A buffer too small is an error, never an overrun. `depth`
// as for the readers, then per format: JPEG writes grey for depths 0 and 1,
// colour otherwise; GIF writes at most 8 bits (a table of 2, 16 or 256
// colours), TGA at least 8 (colour-mapped or true colour); BMP, PCX, PNG and
// TIFF write the depth asked for. JPEG `quality` is 1..100 and `smooth` the
// encoder's input smoothing, 0 (none) to 100; PNG `interlaced` writes Adam7.
// TGA is run-length coded when that is smaller, PCX always.
int wrjpgstreamdib(const img_dib* dib, int16_t depth, int16_t quality, int16_t smooth,
                   unsigned char* buffer, int32_t size, int32_t* written, void* control,
                   img_progress_fn progress);
int wrpngstreamdib(const img_dib* dib, int16_t depth, int16_t interlaced, unsigned char* buffer,
                   int32_t size, int32_t* written, void* control, img_progress_fn progress);
int wrbmpstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size,
                   int32_t* written, void* control, img_progress_fn progress);
int wrgifstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size,
                   int32_t* written, void* control, img_progress_fn progress);
int wrpcxstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size,
                   int32_t* written, void* control, img_progress_fn progress);
int writetgafilestreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size,
                          int32_t* written, void* control, img_progress_fn progress);
// TIFF compressions, numbered as the program's save setting numbers them.
enum {
  IMG_TIFF_NONE = 0,
  IMG_TIFF_CCITT_RLE = 1,  // the three CCITT codes only for 1-bit pictures
  IMG_TIFF_CCITT_FAX3 = 2,
  IMG_TIFF_CCITT_FAX4 = 3,
  IMG_TIFF_LZW = 4,
  IMG_TIFF_PACKBITS = 5,
};
// With `append` non-zero the buffer's first *written bytes hold a TIFF on
// entry, and the picture becomes its last page; *written is then the whole
// new file's length. A failure leaves the buffer's old file as it was.
int writetiffiledibstream(const img_dib* dib, int16_t depth, int16_t compression, int16_t append,
                          unsigned char* buffer, int32_t size, int32_t* written, void* control,
                          img_progress_fn progress);

// Annotation layer: registers a control, draws nothing, unregisters.
int InitAnnotation(void* control, void* window, void* owner, img_anno_fn done,
                   img_anno_fn custom_draw, img_anno_fn custom_hard_draw,
                   img_anno_fn before_draw, img_anno_fn after_draw, const char* settings);
int DrawAnnotation(void* control, double zoom, int32_t origin_x, int32_t origin_y,
                   int32_t offset_x, int32_t offset_y, int32_t bar, int32_t reserved);
int DestroyAnnotation(void* control);

// ---- libisp2000.so -------------------------------------------------------

// Colour reduction to `depth` (1, 4 or 8 bits; 0 = 4 bits with the VGA
// palette) with up to `colours` colours; Floyd-Steinberg error diffusion
// when `dither` is set. A picture with few enough colours keeps them
// exactly. Answers a new block.
img_dib* ReduceDib(const img_dib* dib, int16_t depth, int16_t dither, int32_t colours,
                   int32_t r2, int32_t r3, void* control, img_progress_fn progress);

#ifdef __cplusplus
}  // extern "C"
#endif
