/* A frame hook module for the tests: paints the top-left 16x16 block of the first plane with a value
 * ("-y N", 200 without arguments), and reports what it was called with through exported variables. */
#define TARVELLO_FRAME_HOOK_MODULE
#include "engine/frame_hook_abi.h"

#include <stdlib.h>
#include <string.h>

typedef struct PaintContext {
  int value;
} PaintContext;

int test_hook_release_calls = 0;
int test_hook_last_pix_fmt = -1;
int test_hook_last_width = 0;
int test_hook_last_height = 0;
int64_t test_hook_last_pts = 0;
char test_hook_first_argument[256] = "";

int Configure(void** context, int argc, char* argv[]) {
  int value = 200;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-y") == 0 && i + 1 < argc) {
      value = atoi(argv[++i]);
    } else {
      return 1;
    }
  }
  PaintContext* paint = malloc(sizeof *paint);
  if (paint == NULL) return 1;
  paint->value = value;
  *context = paint;
  strncpy(test_hook_first_argument, argv[0], sizeof test_hook_first_argument - 1);
  return 0;
}

void Process(void* context, HookPicture* picture, int pix_fmt, int width, int height, int64_t pts_us) {
  const PaintContext* paint = context;
  test_hook_last_pix_fmt = pix_fmt;
  test_hook_last_width = width;
  test_hook_last_height = height;
  test_hook_last_pts = pts_us;
  for (int y = 0; y < 16 && y < height; ++y) {
    for (int x = 0; x < 16 && x < width; ++x)
      picture->data[0][y * picture->linesize[0] + x] = (uint8_t)paint->value;
  }
}

void Release(void* context) {
  ++test_hook_release_calls;
  free(context);
}
