#include "runtime/scaler.h"

#include "runtime/library_loader.h"

namespace runtime {

bool ScalerWrites(AVPixelFormat format) {
  return swscale().sws_isSupportedOutput(format) > 0;
}

bool ScalerTakes(int source_width, int source_height, AVPixelFormat source_format, int width, int height,
                 AVPixelFormat format) {
  return source_width > 0 && source_height > 0 && width > 0 && height > 0 &&
         swscale().sws_isSupportedInput(source_format) > 0 && ScalerWrites(format);
}

ScalerPtr NewScaler(int source_width, int source_height, AVPixelFormat source_format, int width, int height,
                    AVPixelFormat format, int flags) {
  if (!ScalerTakes(source_width, source_height, source_format, width, height, format)) return nullptr;
  return ScalerPtr(swscale().sws_getContext(source_width, source_height, source_format, width, height, format,
                                            flags, nullptr, nullptr, nullptr));
}

}  // namespace runtime
