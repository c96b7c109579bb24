// libcrde2000.so: C wrappers, exported by name, around the entries of the
// shared core. Everything else in the library stays hidden.
#include "media/picturelib/core/entries.h"

#define IMG_EXPORT __attribute__((visibility("default")))

extern "C" {

IMG_EXPORT int errortext(uint16_t code, char* buffer, int32_t size) {
  return picturelib::entries::errortext(code, buffer, size);
}

IMG_EXPORT int streaminfo(const unsigned char* bytes, int32_t count, char name[IMG_NAME_BUFFER], int32_t* width,
                          int32_t* height, int16_t* bits, int16_t* extra1, int16_t* extra2,
                          char klass[IMG_CLASS_BUFFER], int32_t reserved) {
  return picturelib::entries::streaminfo(bytes, count, name, width, height, bits, extra1, extra2, klass, reserved);
}

IMG_EXPORT int getinfostream(const unsigned char* bytes, int32_t count, int16_t page, int32_t* width, int32_t* height,
                             int32_t* compression, int32_t* spare, int16_t* page_count, int16_t* bits) {
  return picturelib::entries::getinfostream(bytes, count, page, width, height, compression, spare, page_count, bits);
}

IMG_EXPORT int getdxfinfostream(const unsigned char* bytes, int32_t count, int32_t* width, int32_t* height,
                                int16_t* bits) {
  return picturelib::entries::getdxfinfostream(bytes, count, width, height, bits);
}

IMG_EXPORT int rdjpgstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t scale, int16_t dither,
                              img_dib** out, void* palette, void* control, img_progress_fn progress, int32_t reserved) {
  return picturelib::entries::rdjpgstreamdib(bytes, count, depth, scale, dither, out, palette, control, progress,
                                           reserved);
}

IMG_EXPORT int rdbmpstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                              void* palette, void* control, img_progress_fn progress, int32_t reserved) {
  return picturelib::entries::rdbmpstreamdib(bytes, count, depth, dither, out, palette, control, progress, reserved);
}

IMG_EXPORT int rdpngstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                              void* palette, void* control, img_progress_fn progress, int32_t reserved) {
  return picturelib::entries::rdpngstreamdib(bytes, count, depth, dither, out, palette, control, progress, reserved);
}

IMG_EXPORT int rdgifstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                              void* palette, void* control, img_progress_fn progress, int32_t reserved) {
  return picturelib::entries::rdgifstreamdib(bytes, count, depth, dither, out, palette, control, progress, reserved);
}

IMG_EXPORT int rdpcxstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                              void* palette, void* control, img_progress_fn progress, int32_t reserved) {
  return picturelib::entries::rdpcxstreamdib(bytes, count, depth, dither, out, palette, control, progress, reserved);
}

IMG_EXPORT int readtgafilestreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither,
                                    img_dib** out, void* palette, void* control, img_progress_fn progress,
                                    int32_t reserved) {
  return picturelib::entries::readtgafilestreamdib(bytes, count, depth, dither, out, palette, control, progress,
                                                 reserved);
}

IMG_EXPORT int readepsfiledibstream(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither,
                                    img_dib** out, void* palette, void* control, img_progress_fn progress,
                                    int32_t reserved) {
  return picturelib::entries::readepsfiledibstream(bytes, count, depth, dither, out, palette, control, progress,
                                                 reserved);
}

IMG_EXPORT int readtiffiledibstream(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither,
                                    int16_t page, img_dib** out, void* control, img_progress_fn progress,
                                    int32_t reserved) {
  return picturelib::entries::readtiffiledibstream(bytes, count, depth, dither, page, out, control, progress, reserved);
}

IMG_EXPORT int readpcdfiledibstream(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither,
                                    int16_t mode, img_dib** out, void* control, img_progress_fn progress,
                                    int32_t reserved) {
  return picturelib::entries::readpcdfiledibstream(bytes, count, depth, dither, mode, out, control, progress, reserved);
}

IMG_EXPORT int readdxftoddbstream(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither,
                                  void** bitmap, void** palette, void* control, img_progress_fn progress,
                                  int32_t reserved) {
  return picturelib::entries::readdxftoddbstream(bytes, count, depth, dither, bitmap, palette, control, progress,
                                               reserved);
}

IMG_EXPORT img_dib* DIB1to4(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3,
                            void* control, img_progress_fn progress) {
  return picturelib::entries::DIB1to4(dib, depth, dither, r1, r2, r3, control, progress);
}

IMG_EXPORT img_dib* DIB1To8(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3,
                            void* control, img_progress_fn progress) {
  return picturelib::entries::DIB1To8(dib, depth, dither, r1, r2, r3, control, progress);
}

IMG_EXPORT img_dib* DIB1To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3,
                             void* control, img_progress_fn progress) {
  return picturelib::entries::DIB1To24(dib, depth, dither, r1, r2, r3, control, progress);
}

IMG_EXPORT img_dib* DIB4To8(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3,
                            void* control, img_progress_fn progress) {
  return picturelib::entries::DIB4To8(dib, depth, dither, r1, r2, r3, control, progress);
}

IMG_EXPORT img_dib* DIB4To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3,
                             void* control, img_progress_fn progress) {
  return picturelib::entries::DIB4To24(dib, depth, dither, r1, r2, r3, control, progress);
}

IMG_EXPORT img_dib* DIB8To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3,
                             void* control, img_progress_fn progress) {
  return picturelib::entries::DIB8To24(dib, depth, dither, r1, r2, r3, control, progress);
}

IMG_EXPORT img_dib* DIB16To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3,
                              void* control, img_progress_fn progress) {
  return picturelib::entries::DIB16To24(dib, depth, dither, r1, r2, r3, control, progress);
}

IMG_EXPORT img_dib* DIB32To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3,
                              void* control, img_progress_fn progress) {
  return picturelib::entries::DIB32To24(dib, depth, dither, r1, r2, r3, control, progress);
}

IMG_EXPORT int DibtoDdb(const img_dib* dib, img_dib** out, void** palette) {
  return picturelib::entries::DibtoDdb(dib, out, palette);
}

IMG_EXPORT int wrjpgstreamdib(const img_dib* dib, int16_t depth, int16_t quality, int16_t smooth, unsigned char* buffer,
                              int32_t size, int32_t* written, void* control, img_progress_fn progress) {
  return picturelib::entries::wrjpgstreamdib(dib, depth, quality, smooth, buffer, size, written, control, progress);
}

IMG_EXPORT int wrpngstreamdib(const img_dib* dib, int16_t depth, int16_t interlaced, unsigned char* buffer,
                              int32_t size, int32_t* written, void* control, img_progress_fn progress) {
  return picturelib::entries::wrpngstreamdib(dib, depth, interlaced, buffer, size, written, control, progress);
}

IMG_EXPORT int wrbmpstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                              void* control, img_progress_fn progress) {
  return picturelib::entries::wrbmpstreamdib(dib, depth, buffer, size, written, control, progress);
}

IMG_EXPORT int wrgifstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                              void* control, img_progress_fn progress) {
  return picturelib::entries::wrgifstreamdib(dib, depth, buffer, size, written, control, progress);
}

IMG_EXPORT int wrpcxstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                              void* control, img_progress_fn progress) {
  return picturelib::entries::wrpcxstreamdib(dib, depth, buffer, size, written, control, progress);
}

IMG_EXPORT int writetgafilestreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size,
                                     int32_t* written, void* control, img_progress_fn progress) {
  return picturelib::entries::writetgafilestreamdib(dib, depth, buffer, size, written, control, progress);
}

IMG_EXPORT int writetiffiledibstream(const img_dib* dib, int16_t depth, int16_t compression, int16_t append,
                                     unsigned char* buffer, int32_t size, int32_t* written, void* control,
                                     img_progress_fn progress) {
  return picturelib::entries::writetiffiledibstream(dib, depth, compression, append, buffer, size, written, control,
                                                    progress);
}

IMG_EXPORT int InitAnnotation(void* control, void* window, void* owner, img_anno_fn done, img_anno_fn custom_draw,
                              img_anno_fn custom_hard_draw, img_anno_fn before_draw, img_anno_fn after_draw,
                              const char* settings) {
  return picturelib::entries::InitAnnotation(control, window, owner, done, custom_draw, custom_hard_draw, before_draw,
                                           after_draw, settings);
}

IMG_EXPORT int DrawAnnotation(void* control, double zoom, int32_t origin_x, int32_t origin_y, int32_t offset_x,
                              int32_t offset_y, int32_t bar, int32_t reserved) {
  return picturelib::entries::DrawAnnotation(control, zoom, origin_x, origin_y, offset_x, offset_y, bar, reserved);
}

IMG_EXPORT int DestroyAnnotation(void* control) { return picturelib::entries::DestroyAnnotation(control); }

}  // extern "C"
