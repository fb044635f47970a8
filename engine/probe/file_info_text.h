// The probe's information text, in the manner of the libraries' own format
// dump. Each line ends with "\r\n". Needs libavcodec/libavformat/libavutil
// bound; any thread, for a context no other thread changes meanwhile.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "probe/stream_info.h"

namespace vidmill {

// A value in time base tb as microseconds; -1 for AV_NOPTS_VALUE or a time
// base that is not a positive fraction. Never changes the time base.
int64_t ScaledToMicroseconds(int64_t value, AVRational tb);
// The key as the information text shows it ("TPE1" -> "artist" ...).
std::string DisplayMetadataKey(const std::string& key);
// "<indent>Metadata:" and one "<indent>  %-16s: %s" line per tag but
// "language"; nothing when dict is null or holds "language" alone.
std::string MetadataBlock(const AVDictionary* dict, const std::string& indent);
// ", 29.97 fps", ", 25 fps", ", 90k tbn"; "" when rate has a zero part.
std::string RateText(AVRational rate, const char* unit);
// "Stream #i..." for stream i of ctx, then its metadata block.
std::string StreamLine(const AVFormatContext* ctx, unsigned index);
// The whole text of an open file.
std::string BuildFileInfoText(const AVFormatContext* ctx, const std::string& file_name,
                              int64_t file_size, const TFileStreamInfo& info);

}  // namespace vidmill
