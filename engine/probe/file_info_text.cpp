#include "probe/file_info_text.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/entry_points.h"
#include "core/ff_utils.h"

namespace vidmill {
namespace {

constexpr char kEol[] = "\r\n";


const char* const kKeyTable[][2] = {
    {"LEAD_PERFORMER", "performer"}, {"TPE3", "performer"}, {"TP3", "performer"},
    {"PART_NUMBER", "track"}, {"TRACKNUMBER", "track"}, {"WM/TrackNumber", "track"},
    {"WM/Track", "track"}, {"IPRT", "track"}, {"TRCK", "track"}, {"TRK", "track"},
    {"ALBUMARTIST", "album_artist"}, {"WM/AlbumArtist", "album_artist"},
    {"TPE2", "album_artist"}, {"TP2", "album_artist"},
    {"DISCNUMBER", "disc"}, {"WM/PartOfSet", "disc"}, {"TPOS", "disc"},
    {"Author", "artist"}, {"IART", "artist"}, {"TPE1", "artist"}, {"TP1", "artist"},
    {"X-CreationTime", "date"}, {"CreationTime", "date"}, {"ICRD", "date"}, {"TDRL", "date"},
    {"TDRC", "date"},
    {"SourceFilename", "filename"}, {"WM/OriginalFilename", "filename"},
    {"X-Language", "language"}, {"WM/Language", "language"}, {"ILNG", "language"},
    {"TLAN", "language"},
    {"X-Disposition", "disposition"}, {"X-Replaces", "replaces"}, {"X-Depends", "depends"},
    {"X-Uses", "uses"}, {"X-UsesFont", "usesfont"},
    {"WM/AlbumTitle", "album"}, {"IPRD", "album"}, {"TALB", "album"}, {"TAL", "album"},
    {"Description", "comment"}, {"ICMT", "comment"},
    {"WM/Composer", "composer"}, {"TCOM", "composer"},
    {"WM/EncodedBy", "encoded_by"}, {"ITCH", "encoded_by"}, {"TENC", "encoded_by"},
    {"TEN", "encoded_by"},
    {"WM/EncodingSettings", "encoder"}, {"WM/Tool", "encoder"}, {"ISFT", "encoder"},
    {"TSSE", "encoder"},
    {"WM/Genre", "genre"}, {"IGNR", "genre"}, {"TCON", "genre"}, {"TCO", "genre"},
    {"WM/Publisher", "publisher"}, {"TPUB", "publisher"},
    {"WM/MediaStationCallSign", "service_provider"}, {"WM/MediaStationName", "service_name"},
    {"ICOP", "copyright"}, {"TCOP", "copyright"},
    {"INAM", "title"}, {"strn", "title"}, {"TIT2", "title"}, {"TT2", "title"},
    {"TDEN", "creation_time"}, {"TSOA", "album-sort"}, {"TSOP", "artist-sort"},
    {"TSOT", "title-sort"},
};

const char* Tag(const AVDictionary* dict, const char* key) {
  const AVDictionaryEntry* e = ff::av_dict_get(dict, key, nullptr, AV_DICT_MATCH_CASE);
  return e ? e->value : nullptr;
}

constexpr AVRational kMicroseconds{1, 1000000};

bool ValidTimeBase(AVRational tb) { return tb.num > 0 && tb.den > 0; }

// Whole seconds and the six-digit remainder ("1.500000", "-0.021000").
std::string SecondsText(int64_t us) {
  const unsigned long long magnitude = us < 0 ? 0ULL - static_cast<unsigned long long>(us)
                                              : static_cast<unsigned long long>(us);
  return FormatText("%s%llu.%.6llu", us < 0 ? "-" : "", magnitude / 1000000, magnitude % 1000000);
}

// The libraries' own one-line description of a stream's codec.
std::string LibraryCodecText(const AVStream* st) {
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> cc(
      ff::avcodec_alloc_context3(nullptr), [](AVCodecContext* c) { ff::avcodec_free_context(&c); });
  if (!cc || ff::avcodec_parameters_to_context(cc.get(), st->codecpar) < 0) return {};
  char buf[256] = {};
  ff::avcodec_string(buf, sizeof buf, cc.get(), 0);
  return buf;
}

std::string FileLines(const AVFormatContext* ctx, const std::string& file_name,
                      int64_t file_size, const TFileStreamInfo& info) {
  std::string text = "File Name: " + file_name + kEol;
  text += "Format Name: " + std::string(ctx->iformat ? ctx->iformat->name : "") + kEol;
  if (ctx->iformat && ctx->iformat->long_name && *ctx->iformat->long_name) {
    text += "Format Long Name: " + std::string(ctx->iformat->long_name) + kEol;
  }
  text += "File Size: " + SizeText(file_size) + kEol;
  text += "Duration: " + (info.Duration >= 0 ? TimeText(info.Duration) : std::string("N/A")) + kEol;
  if (info.StartTime >= 0) text += "StartTime: " + SecondsText(info.StartTime) + kEol;
  text += info.BitRate >= 1 ? FormatText("Bit Rate: %lld kb/s", static_cast<long long>(info.BitRate / 1000))
                            : std::string("Bit Rate: N/A");
  text += kEol;
  if (info.TimeStamp > 0) text += "Time Stamp: " + DateText(info.TimeStamp, "yyyy-mm-dd hh:nn:ss") + kEol;
  text += MetadataBlock(ctx->metadata, "");
  return text;
}

std::string ChapterLines(const AVFormatContext* ctx) {
  std::string text;
  for (unsigned i = 0; i < ctx->nb_chapters; ++i) {
    const AVChapter* ch = ctx->chapters[i];
    const double unit = av_q2d(ch->time_base);
    text += FormatText("Chapter #%u: start %.2f, end %.2f", i, ch->start * unit, ch->end * unit) + kEol;
    text += MetadataBlock(ch->metadata, "  ");
  }
  return text;
}

}  // namespace

int64_t ScaledToMicroseconds(int64_t value, AVRational tb) {
  if (value == AV_NOPTS_VALUE || !ValidTimeBase(tb)) return -1;
  return ff::av_rescale_q(value, tb, kMicroseconds);
}

std::string DisplayMetadataKey(const std::string& key) {
  for (const auto& row : kKeyTable) {
    if (key == row[0]) return row[1];
  }
  return key;
}

std::string MetadataBlock(const AVDictionary* dict, const std::string& indent) {
  const int count = dict ? ff::av_dict_count(dict) : 0;
  if (count == 0) return {};
  if (count == 1 && Tag(dict, "language")) return {};
  std::string text = indent + "Metadata:" + kEol;
  const AVDictionaryEntry* e = nullptr;
  while ((e = ff::av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX))) {
    if (std::string(e->key) == "language") continue;
    text += FormatText("%s  %-16s: %s", indent.c_str(), DisplayMetadataKey(e->key).c_str(), e->value) + kEol;
  }
  return text;
}

std::string RateText(AVRational rate, const char* unit) {
  if (rate.num == 0 || rate.den == 0) return {};
  const double r = av_q2d(rate);
  const long long v = std::llround(r * 100);
  if (v % 100 != 0) return FormatText(", %3.2f %s", r, unit);
  if (v % 100000 != 0) return FormatText(", %1.0f %s", r, unit);
  return FormatText(", %1.0fk %s", r / 1000, unit);
}

std::string StreamLine(const AVFormatContext* ctx, unsigned index) {
  const AVStream* st = ctx->streams[index];
  std::string line = FormatText("Stream #%u", index);
  if (ctx->iformat && (ctx->iformat->flags & AVFMT_SHOW_IDS)) line += FormatText("[0x%x]", st->id);
  if (const char* lang = Tag(st->metadata, "language")) line += FormatText("(%s)", lang);
  int g = ff::av_gcd(st->time_base.num, st->time_base.den);
  if (g == 0) g = 1;
  line += FormatText(", %d/%d", st->time_base.num / g, st->time_base.den / g);
  line += ": " + LibraryCodecText(st);
  const AVCodecParameters* par = st->codecpar;
  if (st->sample_aspect_ratio.num != 0 && av_cmp_q(st->sample_aspect_ratio, par->sample_aspect_ratio) != 0) {
    AVRational dar{0, 1};
    ff::av_reduce(&dar.num, &dar.den, static_cast<int64_t>(par->width) * st->sample_aspect_ratio.num,
                  static_cast<int64_t>(par->height) * st->sample_aspect_ratio.den, 1024 * 1024);
    line += FormatText(", PAR %d:%d DAR %d:%d", st->sample_aspect_ratio.num, st->sample_aspect_ratio.den,
                   dar.num, dar.den);
  }
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    line += RateText(st->avg_frame_rate, "fps");
    line += RateText(st->r_frame_rate, "tbr");
    line += RateText(av_inv_q(st->time_base), "tbn");
  }
  if (st->start_time != AV_NOPTS_VALUE && ValidTimeBase(st->time_base)) {
    line += ", StartTime: " + SecondsText(ff::av_rescale_q(st->start_time, st->time_base, kMicroseconds));
  }
  const bool has_duration = st->duration != AV_NOPTS_VALUE && ValidTimeBase(st->time_base);
  line += ", Duration: " +
          (has_duration ? TimeText(ff::av_rescale_q(st->duration, st->time_base, kMicroseconds))
                        : std::string("N/A"));
  return line + kEol + MetadataBlock(st->metadata, "  ");
}

std::string BuildFileInfoText(const AVFormatContext* ctx, const std::string& file_name,
                              int64_t file_size, const TFileStreamInfo& info) {
  std::string text = FileLines(ctx, file_name, file_size, info);
  text += ChapterLines(ctx);
  std::vector<bool> written(ctx->nb_streams, false);
  for (unsigned p = 0; p < ctx->nb_programs; ++p) {
    const AVProgram* prog = ctx->programs[p];
    const char* provider = Tag(prog->metadata, "provider_name");
    const char* name = Tag(prog->metadata, "name");
    text += FormatText("Program %d %s@%s", prog->id, provider ? provider : "N/A", name ? name : "N/A") + kEol;
    text += MetadataBlock(prog->metadata, "  ");
    for (unsigned k = 0; k < prog->nb_stream_indexes; ++k) {
      const unsigned i = prog->stream_index[k];
      if (i >= ctx->nb_streams) continue;
      text += StreamLine(ctx, i);
      written[i] = true;
    }
  }
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    if (!written[i]) text += StreamLine(ctx, i);
  }
  return text;
}

}  // namespace vidmill
