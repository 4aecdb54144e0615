/* The interface between the converter and a frame hook module: a shared object named by the "vhook" option
 * ("-vhook 'mymodule.so -y 80'" or "-vhook 'mymodule.so|-y|80'"), loaded once per process and used by every
 * task that names it. A module exports, with C linkage:
 *
 *   Configure  optional when the option names no arguments. Called once per use of the module in a task with
 *              the address of that use's context pointer (null on entry) and the words of the option, the
 *              module's file name first. Returns 0 on success; anything else makes the option fail. argv
 * stays valid until Release. Process    mandatory. Called on the task's worker thread for every decoded
 * picture, before it is scaled and encoded; it changes the picture in place. pix_fmt is the picture's
 * AVPixelFormat value of libavutil 57 (FFmpeg 5.1); pts_us is its presentation time in microseconds. Release
 * optional. Called once with the context when the task releases its hooks.
 *
 * Different tasks may call one module's entry points at the same time, each with its own context.
 *
 * A module defines TARVELLO_FRAME_HOOK_MODULE before including this file so that the compiler checks its
 * entry points against the declarations below. This header is plain C. */
#ifndef TARVELLO_ENGINE_FRAME_HOOK_ABI_H
#define TARVELLO_ENGINE_FRAME_HOOK_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Four plane pointers and four line sizes (bytes from one row to the next), laid out as the planes of the
 * pixel format say; unused planes are null. */
typedef struct HookPicture {
  uint8_t* data[4];
  int linesize[4];
} HookPicture;

typedef int (*FrameHookConfigureFn)(void** context, int argc, char* argv[]);
typedef void (*FrameHookProcessFn)(void* context, HookPicture* picture, int pix_fmt, int width, int height,
                                   int64_t pts_us);
typedef void (*FrameHookReleaseFn)(void* context);

#ifdef TARVELLO_FRAME_HOOK_MODULE
int Configure(void** context, int argc, char* argv[]);
void Process(void* context, HookPicture* picture, int pix_fmt, int width, int height, int64_t pts_us);
void Release(void* context);
#endif

#ifdef __cplusplus
}
#endif

#endif /* TARVELLO_ENGINE_FRAME_HOOK_ABI_H */
