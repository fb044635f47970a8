// The media libraries' entry points, bound at run time by TFFLoader.
//
// Each entry point is a process-wide function pointer in namespace ff with
// the exported symbol's own name and the library's own prototype, so engine
// code calls ff::avcodec_open2(...) exactly as it would call the library.
// A pointer is null while its library is not bound; components check
// AVLibLoaded() before calling. Written only by the loader on the main thread.
//
// To use a further entry point, add its name to its library's list below.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdarg>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libavutil/tx.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

// clang-format off
#define VM_AVCODEC_ENTRY_POINTS(X) \
  X(avcodec_alloc_context3) X(avcodec_free_context) X(avcodec_open2) X(avcodec_close) \
  X(avcodec_send_packet) X(avcodec_receive_frame) X(avcodec_send_frame) X(avcodec_receive_packet) \
  X(avcodec_flush_buffers) X(avcodec_find_decoder) X(avcodec_find_decoder_by_name) \
  X(avcodec_find_encoder) X(avcodec_find_encoder_by_name) X(avcodec_parameters_from_context) \
  X(avcodec_parameters_to_context) X(avcodec_parameters_copy) X(avcodec_parameters_alloc) \
  X(avcodec_parameters_free) X(avcodec_decode_subtitle2) X(avcodec_encode_subtitle) \
  X(avsubtitle_free) X(avcodec_string) X(avcodec_get_class) X(avcodec_descriptor_get) \
  X(avcodec_get_name) X(av_codec_iterate) X(av_codec_is_encoder) X(av_codec_is_decoder) \
  X(av_packet_alloc) X(av_packet_free) X(av_packet_unref) X(av_packet_ref) X(av_packet_clone) \
  X(av_packet_rescale_ts) X(av_packet_get_side_data) X(av_packet_move_ref) X(av_new_packet) \
  X(av_get_bits_per_sample) X(av_get_audio_frame_duration) X(av_get_pcm_codec) \
  X(av_bsf_get_by_name) X(av_bsf_alloc) X(av_bsf_init) X(av_bsf_send_packet) \
  X(av_bsf_receive_packet) X(av_bsf_free) X(avcodec_align_dimensions2) \
  X(avcodec_find_best_pix_fmt_of_list) X(avcodec_default_get_buffer2)

// What the old core library held now lives in libavutil.
#define VM_AVCORE_ENTRY_POINTS(X) \
  X(av_get_bytes_per_sample) X(av_get_sample_fmt) X(av_get_sample_fmt_name) \
  X(av_get_packed_sample_fmt) X(av_get_planar_sample_fmt) X(av_sample_fmt_is_planar) \
  X(av_image_copy) X(av_image_alloc) X(av_image_fill_arrays) X(av_image_get_buffer_size) \
  X(av_image_fill_linesizes) X(av_image_check_size) X(av_parse_video_rate) X(av_parse_video_size) \
  X(av_parse_time) X(av_channel_layout_default) X(av_channel_layout_uninit) X(av_channel_layout_copy) \
  X(av_channel_layout_describe) X(av_channel_layout_compare) X(av_channel_layout_from_mask) \
  X(av_channel_layout_from_string) X(av_samples_alloc) X(av_samples_get_buffer_size) \
  X(av_samples_set_silence) X(av_samples_copy)

#define VM_AVDEVICE_ENTRY_POINTS(X) X(avdevice_register_all)

#define VM_AVFILTER_ENTRY_POINTS(X) \
  X(avfilter_get_by_name) X(avfilter_graph_alloc) X(avfilter_graph_config) \
  X(avfilter_graph_create_filter) X(avfilter_graph_free) X(avfilter_graph_parse_ptr) \
  X(avfilter_graph_parse2) X(avfilter_inout_alloc) X(avfilter_inout_free) X(avfilter_link) \
  X(avfilter_graph_send_command) X(avfilter_graph_alloc_filter) X(avfilter_init_str) \
  X(av_filter_iterate) X(av_buffersrc_add_frame_flags) X(av_buffersrc_parameters_alloc) \
  X(av_buffersrc_parameters_set) X(av_buffersink_get_frame_flags) X(av_buffersink_get_frame) \
  X(av_buffersink_get_time_base) X(av_buffersink_get_format) X(av_buffersink_get_w) \
  X(av_buffersink_get_h) X(av_buffersink_get_sample_aspect_ratio) X(av_buffersink_get_frame_rate) \
  X(av_buffersink_set_frame_size) X(av_buffersink_get_sample_rate) X(av_buffersink_get_ch_layout)

#define VM_AVFORMAT_ENTRY_POINTS(X) \
  X(avformat_alloc_context) X(avformat_free_context) X(avformat_open_input) X(avformat_close_input) \
  X(avformat_find_stream_info) X(av_find_input_format) X(av_find_best_stream) X(av_read_frame) \
  X(av_read_pause) X(av_read_play) X(av_seek_frame) X(avformat_seek_file) \
  X(avformat_alloc_output_context2) X(avformat_new_stream) X(avformat_write_header) \
  X(avformat_init_output) X(av_interleaved_write_frame) X(av_write_frame) X(av_write_trailer) \
  X(av_guess_format) X(av_guess_codec) X(av_codec_get_id) X(av_codec_get_tag) \
  X(avformat_query_codec) X(av_dump_format) X(avio_open2) X(avio_closep) X(avio_close) \
  X(avio_alloc_context) X(avio_context_free) X(avio_size) X(avio_flush) X(avio_feof) X(avio_seek) \
  X(avio_skip) X(avio_find_protocol_name) X(avio_check) X(avio_write) X(avio_read) X(av_guess_frame_rate) \
  X(av_guess_sample_aspect_ratio) X(av_filename_number_test) X(av_demuxer_iterate) \
  X(av_muxer_iterate) X(avformat_get_class) X(avformat_match_stream_specifier) \
  X(av_stream_get_parser) X(av_find_program_from_stream)

#define VM_AVUTIL_ENTRY_POINTS(X) \
  X(av_log) X(av_log_default_callback) X(av_log_get_level) X(av_log_set_callback) \
  X(av_log_set_level) X(av_log_set_flags) X(av_log_format_line2) X(av_default_item_name) \
  X(av_malloc) X(av_mallocz) X(av_free) X(av_freep) X(av_realloc) X(av_strdup) X(av_fast_malloc) \
  X(av_compare_ts) X(av_rescale) X(av_rescale_q) X(av_rescale_q_rnd) X(av_rescale_rnd) \
  X(av_reduce) X(av_gcd) X(av_d2q) X(av_mul_q) X(av_div_q) X(av_add_q) X(av_sub_q) \
  X(av_find_nearest_q_idx) X(av_gettime) X(av_gettime_relative) X(av_usleep) X(av_strerror) \
  X(av_strlcpy) X(av_strstart) X(av_frame_alloc) X(av_frame_free) X(av_frame_unref) \
  X(av_frame_ref) X(av_frame_clone) X(av_frame_get_buffer) X(av_frame_make_writable) X(av_frame_is_writable) \
  X(av_frame_move_ref) X(av_frame_copy) X(av_frame_copy_props) X(av_dict_set) X(av_dict_get) \
  X(av_dict_free) X(av_dict_copy) X(av_dict_count) X(av_dict_set_int) X(av_opt_set) \
  X(av_opt_set_int) X(av_opt_set_q) X(av_opt_set_bin) X(av_opt_get) X(av_opt_find) X(av_opt_find2) \
  X(av_opt_set_dict) X(av_opt_set_dict2) X(av_opt_set_defaults) X(av_opt_next) \
  X(av_opt_child_class_iterate) X(av_opt_set_image_size) X(av_opt_set_pixel_fmt) \
  X(av_opt_set_sample_fmt) X(av_opt_set_chlayout) X(av_opt_free) X(av_opt_copy) X(av_pix_fmt_desc_get) \
  X(av_get_pix_fmt) X(av_get_pix_fmt_name) X(av_get_bits_per_pixel) X(av_pix_fmt_count_planes) \
  X(av_audio_fifo_alloc) X(av_audio_fifo_free) X(av_audio_fifo_write) X(av_audio_fifo_read) \
  X(av_audio_fifo_size) X(av_get_media_type_string) X(av_get_time_base_q) \
  X(av_get_picture_type_char) X(av_buffer_ref) X(av_buffer_unref) X(av_tx_init) X(av_tx_uninit) \
  X(av_buffer_pool_init) X(av_buffer_pool_get) X(av_buffer_pool_uninit)

#define VM_SWSCALE_ENTRY_POINTS(X) \
  X(sws_freeContext) X(sws_getContext) X(sws_getCachedContext) X(sws_scale) X(sws_scale_frame) \
  X(sws_get_class) X(sws_alloc_context) X(sws_init_context) X(sws_isSupportedInput) \
  X(sws_isSupportedOutput)

#define VM_SWRESAMPLE_ENTRY_POINTS(X) \
  X(swr_alloc) X(swr_alloc_set_opts2) X(swr_init) X(swr_free) X(swr_convert) \
  X(swr_set_compensation) X(swr_get_delay) X(swr_get_out_samples) X(swr_is_initialized) \
  X(swr_get_class) X(swr_convert_frame) X(swr_config_frame)

// The C runtime functions through which the engine formats log lines and
// reads small files.
#define VM_MYUTIL_ENTRY_POINTS(X) \
  X(fclose) X(fopen) X(fprintf) X(fread) X(fseek) X(ftell) X(fwrite) X(snprintf) \
  X(strtod) X(strtok) X(strtol) X(vsprintf) X(vsnprintf)
// clang-format on

namespace ff {
#define VM_DECLARE_ENTRY_POINT(name) inline decltype(&::name) name = nullptr;
VM_AVCODEC_ENTRY_POINTS(VM_DECLARE_ENTRY_POINT)
VM_AVCORE_ENTRY_POINTS(VM_DECLARE_ENTRY_POINT)
VM_AVDEVICE_ENTRY_POINTS(VM_DECLARE_ENTRY_POINT)
VM_AVFILTER_ENTRY_POINTS(VM_DECLARE_ENTRY_POINT)
VM_AVFORMAT_ENTRY_POINTS(VM_DECLARE_ENTRY_POINT)
VM_AVUTIL_ENTRY_POINTS(VM_DECLARE_ENTRY_POINT)
VM_SWSCALE_ENTRY_POINTS(VM_DECLARE_ENTRY_POINT)
VM_SWRESAMPLE_ENTRY_POINTS(VM_DECLARE_ENTRY_POINT)
VM_MYUTIL_ENTRY_POINTS(VM_DECLARE_ENTRY_POINT)
#undef VM_DECLARE_ENTRY_POINT
}  // namespace ff
