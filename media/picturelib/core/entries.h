#pragma once
// The entries of both libraries with C++ linkage, exactly as picturelib_api.h
// declares them: the shared objects export thin C wrappers around these, and
// the tests and the fuzz target call them directly. Each one catches
// everything at its boundary.
#include "media/picturelib/picturelib_api.h"

namespace picturelib::entries {

int errortext(uint16_t code, char* buffer, int32_t size);
int streaminfo(const unsigned char* bytes, int32_t count, char name[IMG_NAME_BUFFER], int32_t* width, int32_t* height,
               int16_t* bits, int16_t* extra1, int16_t* extra2, char klass[IMG_CLASS_BUFFER], int32_t reserved);
int getinfostream(const unsigned char* bytes, int32_t count, int16_t page, int32_t* width, int32_t* height,
                  int32_t* compression, int32_t* spare, int16_t* page_count, int16_t* bits);
int getdxfinfostream(const unsigned char* bytes, int32_t count, int32_t* width, int32_t* height, int16_t* bits);

int rdjpgstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t scale, int16_t dither,
                   img_dib** out, void* palette, void* control, img_progress_fn progress, int32_t reserved);
int rdbmpstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                   void* palette, void* control, img_progress_fn progress, int32_t reserved);
int rdpngstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                   void* palette, void* control, img_progress_fn progress, int32_t reserved);
int rdgifstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                   void* palette, void* control, img_progress_fn progress, int32_t reserved);
int rdpcxstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                   void* palette, void* control, img_progress_fn progress, int32_t reserved);
int readtgafilestreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                         void* palette, void* control, img_progress_fn progress, int32_t reserved);
int readepsfiledibstream(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out,
                         void* palette, void* control, img_progress_fn progress, int32_t reserved);
int readtiffiledibstream(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, int16_t page,
                         img_dib** out, void* control, img_progress_fn progress, int32_t reserved);
int readpcdfiledibstream(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, int16_t mode,
                         img_dib** out, void* control, img_progress_fn progress, int32_t reserved);
int readdxftoddbstream(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, void** bitmap,
                       void** palette, void* control, img_progress_fn progress, int32_t reserved);

img_dib* DIB1to4(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3, void* control,
                 img_progress_fn progress);
img_dib* DIB1To8(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3, void* control,
                 img_progress_fn progress);
img_dib* DIB1To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3, void* control,
                  img_progress_fn progress);
img_dib* DIB4To8(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3, void* control,
                 img_progress_fn progress);
img_dib* DIB4To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3, void* control,
                  img_progress_fn progress);
img_dib* DIB8To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3, void* control,
                  img_progress_fn progress);
img_dib* DIB16To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3, void* control,
                   img_progress_fn progress);
img_dib* DIB32To24(const img_dib* dib, int16_t depth, int16_t dither, int32_t r1, int32_t r2, int32_t r3, void* control,
                   img_progress_fn progress);
int DibtoDdb(const img_dib* dib, img_dib** out, void** palette);

int wrjpgstreamdib(const img_dib* dib, int16_t depth, int16_t quality, int16_t smooth, unsigned char* buffer,
                   int32_t size, int32_t* written, void* control, img_progress_fn progress);
int wrpngstreamdib(const img_dib* dib, int16_t depth, int16_t interlaced, unsigned char* buffer, int32_t size,
                   int32_t* written, void* control, img_progress_fn progress);
int wrbmpstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                   void* control, img_progress_fn progress);
int wrgifstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                   void* control, img_progress_fn progress);
int wrpcxstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                   void* control, img_progress_fn progress);
int writetgafilestreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                          void* control, img_progress_fn progress);
int writetiffiledibstream(const img_dib* dib, int16_t depth, int16_t compression, int16_t append,
                          unsigned char* buffer, int32_t size, int32_t* written, void* control,
                          img_progress_fn progress);

int InitAnnotation(void* control, void* window, void* owner, img_anno_fn done, img_anno_fn custom_draw,
                   img_anno_fn custom_hard_draw, img_anno_fn before_draw, img_anno_fn after_draw, const char* settings);
int DrawAnnotation(void* control, double zoom, int32_t origin_x, int32_t origin_y, int32_t offset_x, int32_t offset_y,
                   int32_t bar, int32_t reserved);
int DestroyAnnotation(void* control);
// Whether a control is registered with the annotation layer.
bool AnnotationRegistered(void* control);

img_dib* ReduceDib(const img_dib* dib, int16_t depth, int16_t dither, int32_t colours, int32_t r2, int32_t r3,
                   void* control, img_progress_fn progress);

}  // namespace picturelib::entries
