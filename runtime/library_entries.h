// Entry tables of the media libraries. The program does not link the libraries: every function it calls is a
// typed pointer in one of these tables, bound by name when the library is loaded. Calling a function directly
// instead of through its table fails at link time, which keeps the tables complete.
//
// To call a new library function, add its name to the library's list below; the member and its binding
// follow.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
#include <opencore-amrnb/interf_enc.h>
}
#include <SDL2/SDL.h>

#define TARVELLO_AVUTIL_ENTRIES(X) \
  X(avutil_version)                \
  X(av_version_info)               \
  X(av_log)                        \
  X(av_log_set_callback)           \
  X(av_log_set_level)              \
  X(av_log_get_level)              \
  X(av_strerror)                   \
  X(av_malloc)                     \
  X(av_mallocz)                    \
  X(av_free)                       \
  X(av_freep)                      \
  X(av_strdup)                     \
  X(av_dict_get)                   \
  X(av_dict_set)                   \
  X(av_dict_copy)                  \
  X(av_dict_free)                  \
  X(av_opt_find)                   \
  X(av_opt_set)                    \
  X(av_opt_get)                    \
  X(av_opt_set_int)                \
  X(av_opt_set_defaults)           \
  X(av_frame_alloc)                \
  X(av_frame_free)                 \
  X(av_frame_unref)                \
  X(av_frame_get_buffer)           \
  X(av_frame_make_writable)        \
  X(av_image_fill_arrays)          \
  X(av_image_get_buffer_size)      \
  X(av_image_copy)                 \
  X(av_get_pix_fmt)                \
  X(av_get_pix_fmt_name)           \
  X(av_pix_fmt_desc_get)           \
  X(av_get_sample_fmt)             \
  X(av_get_sample_fmt_name)        \
  X(av_get_bytes_per_sample)       \
  X(av_sample_fmt_is_planar)       \
  X(av_channel_layout_default)     \
  X(av_channel_layout_uninit)      \
  X(av_channel_layout_copy)        \
  X(av_audio_fifo_alloc)           \
  X(av_audio_fifo_free)            \
  X(av_audio_fifo_write)           \
  X(av_audio_fifo_read)            \
  X(av_audio_fifo_size)            \
  X(av_rescale_q)                  \
  X(av_rescale_q_rnd)              \
  X(av_rescale)                    \
  X(av_reduce)                     \
  X(av_d2q)                        \
  X(av_find_nearest_q_idx)         \
  X(av_gettime)                    \
  X(av_gettime_relative)           \
  X(av_parse_video_size)           \
  X(av_parse_video_rate)           \
  X(av_parse_time)                 \
  X(av_opt_find2)                  \
  X(av_opt_set_defaults2)          \
  X(av_opt_get_int)                \
  X(av_get_pix_fmt_string)         \
  X(av_get_sample_fmt_string)      \
  X(av_dict_set_int)               \
  X(av_channel_layout_from_mask)   \
  X(av_opt_set_bin)                \
  X(av_rescale_rnd)                \
  X(av_samples_set_silence)        \
  X(av_frame_ref)                  \
  X(av_frame_copy_props)           \
  X(av_frame_copy)                 \
  X(av_get_picture_type_char)

#define TARVELLO_AVCODEC_ENTRIES(X)  \
  X(avcodec_version)                 \
  X(avcodec_get_class)               \
  X(avcodec_find_encoder)            \
  X(avcodec_find_decoder)            \
  X(avcodec_find_encoder_by_name)    \
  X(avcodec_find_decoder_by_name)    \
  X(avcodec_descriptor_get)          \
  X(avcodec_get_name)                \
  X(avcodec_alloc_context3)          \
  X(avcodec_free_context)            \
  X(avcodec_open2)                   \
  X(avcodec_parameters_alloc)        \
  X(avcodec_parameters_free)         \
  X(avcodec_parameters_copy)         \
  X(avcodec_parameters_to_context)   \
  X(avcodec_parameters_from_context) \
  X(avcodec_send_packet)             \
  X(avcodec_receive_frame)           \
  X(avcodec_send_frame)              \
  X(avcodec_receive_packet)          \
  X(avcodec_flush_buffers)           \
  X(av_packet_alloc)                 \
  X(av_packet_free)                  \
  X(av_packet_unref)                 \
  X(av_packet_ref)                   \
  X(av_packet_rescale_ts)            \
  X(av_packet_get_side_data)         \
  X(av_bsf_get_by_name)              \
  X(av_bsf_alloc)                    \
  X(av_bsf_init)                     \
  X(av_bsf_send_packet)              \
  X(av_bsf_receive_packet)           \
  X(av_bsf_free)                     \
  X(avcodec_decode_subtitle2)        \
  X(avcodec_encode_subtitle)         \
  X(avsubtitle_free)                 \
  X(av_new_packet)                   \
  X(av_codec_iterate)                \
  X(av_codec_is_encoder)             \
  X(avcodec_find_best_pix_fmt_of_list)

#define TARVELLO_AVFORMAT_ENTRIES(X) \
  X(avformat_version)                \
  X(avformat_get_class)              \
  X(avformat_alloc_context)          \
  X(avformat_free_context)           \
  X(avformat_alloc_output_context2)  \
  X(avformat_open_input)             \
  X(avformat_close_input)            \
  X(avformat_find_stream_info)       \
  X(avformat_new_stream)             \
  X(avformat_write_header)           \
  X(avformat_seek_file)              \
  X(av_find_input_format)            \
  X(av_guess_format)                 \
  X(av_read_frame)                   \
  X(av_interleaved_write_frame)      \
  X(av_write_trailer)                \
  X(av_dump_format)                  \
  X(avio_alloc_context)              \
  X(avio_context_free)               \
  X(avio_flush)                      \
  X(avio_size)                       \
  X(avio_read)                       \
  X(avio_write)                      \
  X(avio_seek)                       \
  X(av_seek_frame)                   \
  X(av_filename_number_test)         \
  X(av_codec_get_id)                 \
  X(av_codec_get_tag)                \
  X(av_sdp_create)                   \
  X(av_pkt_dump_log2)                \
  X(av_guess_codec)                  \
  X(avformat_query_codec)            \
  X(av_read_pause)                   \
  X(av_read_play)                    \
  X(av_guess_frame_rate)

#define TARVELLO_AVFILTER_ENTRIES(X) \
  X(avfilter_version)                \
  X(avfilter_get_by_name)            \
  X(avfilter_graph_alloc)            \
  X(avfilter_graph_free)             \
  X(avfilter_graph_create_filter)    \
  X(avfilter_graph_parse_ptr)        \
  X(avfilter_graph_config)           \
  X(avfilter_inout_alloc)            \
  X(avfilter_inout_free)             \
  X(av_buffersrc_add_frame_flags)    \
  X(av_buffersink_get_frame)         \
  X(avfilter_link)                   \
  X(av_buffersink_get_w)             \
  X(av_buffersink_get_h)             \
  X(av_buffersink_get_time_base)     \
  X(av_buffersink_get_sample_aspect_ratio)

#define TARVELLO_SWSCALE_ENTRIES(X) \
  X(swscale_version)                \
  X(sws_get_class)                  \
  X(sws_getContext)                 \
  X(sws_getCachedContext)           \
  X(sws_freeContext)                \
  X(sws_scale)                      \
  X(sws_isSupportedInput)           \
  X(sws_isSupportedOutput)

#define TARVELLO_SWRESAMPLE_ENTRIES(X) \
  X(swresample_version)                \
  X(swr_alloc_set_opts2)               \
  X(swr_init)                          \
  X(swr_free)                          \
  X(swr_convert)                       \
  X(swr_get_delay)                     \
  X(swr_set_compensation)

// avdevice is known to the loader but no set loads it.
#define TARVELLO_AVDEVICE_ENTRIES(X) X(avdevice_version)

#define TARVELLO_SDL_ENTRIES(X) \
  X(SDL_GetVersion)             \
  X(SDL_Init)                   \
  X(SDL_InitSubSystem)          \
  X(SDL_QuitSubSystem)          \
  X(SDL_WasInit)                \
  X(SDL_Quit)                   \
  X(SDL_GetError)               \
  X(SDL_TLSCleanup)             \
  X(SDL_SetHintWithPriority)    \
  X(SDL_CreateWindow)           \
  X(SDL_GL_LoadLibrary)         \
  X(SDL_GL_UnloadLibrary)       \
  X(SDL_DestroyWindow)          \
  X(SDL_GetWindowID)            \
  X(SDL_GetWindowFromID)        \
  X(SDL_SetWindowTitle)         \
  X(SDL_GetWindowTitle)         \
  X(SDL_SetWindowSize)          \
  X(SDL_SetWindowHitTest)       \
  X(SDL_GetWindowSurface)       \
  X(SDL_UpdateWindowSurface)    \
  X(SDL_ConvertPixels)          \
  X(SDL_GetRGB)                 \
  X(SDL_PumpEvents)             \
  X(SDL_FilterEvents)           \
  X(SDL_PushEvent)              \
  X(SDL_PeepEvents)             \
  X(SDL_OpenAudioDevice)        \
  X(SDL_CloseAudioDevice)       \
  X(SDL_PauseAudioDevice)       \
  X(SDL_MixAudioFormat)         \
  X(SDL_RWFromConstMem)         \
  X(SDL_LoadWAV_RW)             \
  X(SDL_FreeWAV)                \
  X(SDL_QueueAudio)             \
  X(SDL_GetQueuedAudioSize)     \
  X(SDL_GetCurrentAudioDriver)  \
  X(SDL_GetCurrentVideoDriver)  \
  X(SDL_CreateWindowFrom)       \
  X(SDL_CreateRenderer)         \
  X(SDL_GetNumRenderDrivers)    \
  X(SDL_GetRenderDriverInfo)    \
  X(SDL_GetRendererInfo)        \
  X(SDL_DestroyRenderer)        \
  X(SDL_CreateTexture)          \
  X(SDL_DestroyTexture)         \
  X(SDL_UpdateYUVTexture)       \
  X(SDL_UpdateTexture)          \
  X(SDL_RenderClear)            \
  X(SDL_RenderCopy)             \
  X(SDL_RenderPresent)          \
  X(SDL_SetRenderDrawColor)

#define TARVELLO_OPENCORE_AMRNB_ENTRIES(X) \
  X(Encoder_Interface_init)                \
  X(Encoder_Interface_exit)                \
  X(Encoder_Interface_Encode)

#define TARVELLO_DECLARE_ENTRY(name) decltype(&::name) name = nullptr;
#define TARVELLO_VISIT_ENTRY(name) visit(#name, entries.name);

namespace runtime {

#define TARVELLO_ENTRY_STRUCT(Type, LIST)             \
  struct Type {                                       \
    LIST(TARVELLO_DECLARE_ENTRY)                      \
  };                                                  \
  template <class Visitor>                            \
  void ForEachEntry(Type& entries, Visitor&& visit) { \
    LIST(TARVELLO_VISIT_ENTRY)                        \
  }

TARVELLO_ENTRY_STRUCT(AvUtilEntries, TARVELLO_AVUTIL_ENTRIES)
TARVELLO_ENTRY_STRUCT(AvCodecEntries, TARVELLO_AVCODEC_ENTRIES)
TARVELLO_ENTRY_STRUCT(AvFormatEntries, TARVELLO_AVFORMAT_ENTRIES)
TARVELLO_ENTRY_STRUCT(AvFilterEntries, TARVELLO_AVFILTER_ENTRIES)
TARVELLO_ENTRY_STRUCT(SwScaleEntries, TARVELLO_SWSCALE_ENTRIES)
TARVELLO_ENTRY_STRUCT(SwResampleEntries, TARVELLO_SWRESAMPLE_ENTRIES)
TARVELLO_ENTRY_STRUCT(AvDeviceEntries, TARVELLO_AVDEVICE_ENTRIES)
TARVELLO_ENTRY_STRUCT(SdlEntries, TARVELLO_SDL_ENTRIES)
TARVELLO_ENTRY_STRUCT(OpenCoreAmrNbEntries, TARVELLO_OPENCORE_AMRNB_ENTRIES)

#undef TARVELLO_ENTRY_STRUCT

// The whole table: one block of typed pointers per library. Written only while a loader binds or unbinds a
// library (on the main thread, before any worker uses it); read without locking afterwards.
struct EntryTable {
  AvCodecEntries avcodec;
  AvDeviceEntries avdevice;
  AvFilterEntries avfilter;
  AvFormatEntries avformat;
  AvUtilEntries avutil;
  SwScaleEntries swscale;
  SwResampleEntries swresample;
  SdlEntries sdl;
  OpenCoreAmrNbEntries amrnb;
};

}  // namespace runtime
