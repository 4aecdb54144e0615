/* A frame hook module with nothing but Process: it takes no arguments and paints the top-left pixel. */
#include "engine/frame_hook_abi.h"

void Process(void* context, HookPicture* picture, int pix_fmt, int width, int height, int64_t pts_us);

void Process(void* context, HookPicture* picture, int pix_fmt, int width, int height, int64_t pts_us) {
  (void)context;
  (void)pix_fmt;
  (void)width;
  (void)height;
  (void)pts_us;
  picture->data[0][0] = 7;
}
