#include "ff_utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <utility>

#include "entry_points.h"

namespace vidmill {
namespace {


// Texts of the libraries' own error codes.
const std::pair<int, const char*> kLibraryErrors[] = {
    {AVERROR_EOF, "End of file"},
    {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
    {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
    {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
    {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
    {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
    {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
    {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
};

// Texts of system error numbers as the application shows them, by errno.
// 32 (a broken pipe), 33 and 42 once stood for the libraries' end of file,
// number-expected and unknown-format codes, which are codes of their own now:
// they take the libraries' texts.
const std::pair<int, const char*> kSystemErrors[] = {
    {1, "Operation not permitted"}, {2, "No such file or directory"}, {3, "No such process"},
    {4, "Interrupted function call"}, {5, "I/O error"}, {6, "No such device or address"},
    {7, "Argument list too long"}, {8, "Exec format error"}, {9, "Bad file number"},
    {10, "No child processes"}, {11, "Resource temporarily unavailable / Try again"},
    {12, "Not enough space / Out of memory"}, {13, "Permission denied"}, {14, "Bad address"},
    {15, "Block device required"}, {16, "Device or resource busy"}, {17, "File exists"},
    {18, "Cross-device link"}, {19, "No such device"}, {20, "Not a directory"},
    {21, "Is a directory"}, {22, "Invalid argument / Invalid data found when processing input"},
    {23, "Too many open files in system / File table overflow"}, {24, "Too many open files"},
    {25, "Inappropriate I/O control operation / Not a typewriter"}, {26, "Text file busy"},
    {27, "File too large"}, {28, "No space left on device"}, {29, "Illegal seek"},
    {30, "Read-only file system"}, {31, "Too many links"},
    {34, "Math result not representable"}, {35, "Resource deadlock would occur"},
    {36, "File name too long"}, {37, "No record locks available"}, {38, "Function not implemented"},
    {39, "Directory not empty"}, {40, "Too many symbolic links encountered"},
    {43, "Identifier removed"}, {44, "Channel number out of range"},
    {45, "Level 2 not synchronized"}, {46, "Level 3 halted"}, {47, "Level 3 reset"},
    {48, "Link number out of range"}, {49, "Protocol driver not attached"},
    {50, "No CSI structure available"}, {51, "Level 2 halted"}, {52, "Invalid exchange"},
    {53, "Invalid request descriptor"}, {54, "Exchange full"}, {55, "No anode"},
    {56, "Invalid request code"}, {57, "Invalid slot"}, {59, "Bad font file format"},
    {60, "Device not a stream"}, {61, "No data available"}, {62, "Timer expired"},
    {63, "Out of streams resources"}, {64, "Machine is not on the network"},
    {65, "Package not installed"}, {66, "Object is remote"}, {67, "Link has been severed"},
    {68, "Advertise error"}, {69, "Srmount error"}, {70, "Communication error on send"},
    {71, "Protocol error"}, {72, "Multihop attempted"}, {73, "RFS specific error"},
    {74, "Not a data message"}, {75, "Value too large for defined data type"},
    {76, "Name not unique on network"}, {77, "File descriptor in bad state"},
    {78, "Remote address changed"}, {79, "Can not access a needed shared library"},
    {80, "Accessing a corrupted shared library"}, {81, ".lib section in a.out corrupted"},
    {82, "Attempting to link in too many shared libraries"},
    {83, "Cannot exec a shared library directly"}, {84, "Illegal byte sequence"},
    {85, "Interrupted system call should be restarted"}, {86, "Streams pipe error"},
    {87, "Too many users"}, {88, "Socket operation on non-socket"},
    {89, "Destination address required"}, {90, "Message too long"},
    {91, "Protocol wrong type for socket"}, {92, "Protocol not available"},
    {93, "Protocol not supported"}, {94, "Socket type not supported"},
    {95, "Operation not supported on transport endpoint"}, {96, "Protocol family not supported"},
    {97, "Address family not supported by protocol"}, {98, "Address already in use"},
    {99, "Cannot assign requested address"}, {100, "Network is down"},
    {101, "Network is unreachable"}, {102, "Network dropped connection because of reset"},
    {103, "Software caused connection abort"}, {104, "Connection reset by peer"},
    {105, "No buffer space available"}, {106, "Transport endpoint is already connected"},
    {107, "Transport endpoint is not connected"},
    {108, "Cannot send after transport endpoint shutdown"},
    {109, "Too many references: cannot splice"}, {110, "Connection timed out"},
    {111, "Connection refused"}, {112, "Host is down"}, {113, "No route to host"},
    {114, "Operation already in progress"}, {115, "Operation now in progress"},
    {116, "Stale NFS file handle"}, {117, "Structure needs cleaning"},
    {118, "Not a XENIX named type file"}, {119, "No XENIX semaphores available"},
    {120, "Is a named type file"}, {121, "Remote I/O error"}, {122, "Quota exceeded"},
    {123, "No medium found"}, {124, "Wrong medium type"}, {125, "Operation Canceled"},
    {126, "Required key not available"}, {127, "Key has expired"}, {128, "Key has been revoked"},
    {129, "Key was rejected by service"}, {130, "Owner died"}, {131, "State not recoverable"},
};

template <size_t N>
const char* Find(const std::pair<int, const char*> (&table)[N], int code) {
  for (const auto& [c, text] : table) {
    if (c == code) return text;
  }
  return nullptr;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string s;
  if (n > 0) {
    s.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(s.data(), s.size(), format, again);
    s.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return s;
}

std::string SizeText(int64_t bytes) {
  const double b = static_cast<double>(bytes);
  if (bytes > 1073741824) return FormatText("%.2f GB", b / 1073741824.0);
  if (bytes > 1048576) return FormatText("%.2f MB", b / 1048576.0);
  if (bytes > 1024) return FormatText("%.2f KB", b / 1024.0);
  return FormatText("%lld Byte", static_cast<long long>(bytes));
}

std::string TimeText(int64_t us) {
  if (us == AV_NOPTS_VALUE) return "N/A";
  // A time before zero (a stream starting early) keeps its sign in front
  // rather than inside every field.
  if (us < 0) return "-" + TimeText(-us);
  const long long hours = us / 3600000000LL;
  const long long minutes = us % 3600000000LL / 60000000LL;
  const long long seconds = us % 60000000LL / 1000000LL;
  const long long millis = us % 1000000LL * 1000 / 1000000LL;
  return FormatText("%.2lld:%.2lld:%.2lld.%.3lld", hours, minutes, seconds, millis);
}

std::string DateText(int64_t seconds_since_epoch, const std::string& format) {
  tzset();
  const time_t local = static_cast<time_t>(seconds_since_epoch - timezone);  // standard bias only
  struct tm t {};
  gmtime_r(&local, &t);
  const std::pair<const char*, int> tokens[] = {
      {"yyyy", t.tm_year + 1900}, {"yy", (t.tm_year + 1900) % 100}, {"mm", t.tm_mon + 1},
      {"m", t.tm_mon + 1},        {"dd", t.tm_mday},                  {"d", t.tm_mday},
      {"hh", t.tm_hour},          {"h", t.tm_hour},                   {"nn", t.tm_min},
      {"n", t.tm_min},            {"ss", t.tm_sec},                   {"s", t.tm_sec},
      {"zzz", 0},
  };
  std::string out;
  for (size_t i = 0; i < format.size();) {
    bool matched = false;
    for (const auto& [token, value] : tokens) {
      const size_t len = std::char_traits<char>::length(token);
      if (format.compare(i, len, token) != 0) continue;
      const int width = len == 1 ? 1 : static_cast<int>(len);
      out += FormatText("%0*d", width, value);
      i += len;
      matched = true;
      break;
    }
    if (!matched) out += format[i++];
  }
  return out;
}

int64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

std::string ProgramFileName() {
  std::error_code ec;
  const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string ProgramFolder() {
  const std::string file = ProgramFileName();
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

std::string Split(std::string& text, const std::string& separator, bool consume) {
  const size_t at = separator.empty() ? std::string::npos : text.find(separator);
  std::string head = text.substr(0, at);
  if (consume) text = at == std::string::npos ? std::string() : text.substr(at + separator.size());
  return head;
}

std::string StreamTypeName(int media_type) {
  switch (media_type) {
    case AVMEDIA_TYPE_VIDEO: return "Video";
    case AVMEDIA_TYPE_AUDIO: return "Audio";
    case AVMEDIA_TYPE_DATA: return "Data";
    case AVMEDIA_TYPE_SUBTITLE: return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT: return "Attachment";
    default: return "Unknown";
  }
}

std::string CodecDescription(const AVCodecParameters* par) {
  if (!par) return {};
  if (const AVCodec* dec = ff::avcodec_find_decoder ? ff::avcodec_find_decoder(par->codec_id) : nullptr) {
    const std::string long_name = Trim(dec->long_name ? dec->long_name : "");
    return long_name.empty() ? std::string(dec->name) : FormatText("%s(%s)", dec->name, long_name.c_str());
  }
  if (par->codec_id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  if (par->codec_id != AV_CODEC_ID_NONE && ff::avcodec_descriptor_get) {
    if (const AVCodecDescriptor* d = ff::avcodec_descriptor_get(par->codec_id)) {
      const std::string name = Trim(d->name ? d->name : "");
      if (!name.empty()) return name;
    }
  }
  const uint32_t tag = par->codec_tag;
  const char c[4] = {static_cast<char>(tag & 0xff), static_cast<char>(tag >> 8 & 0xff),
                     static_cast<char>(tag >> 16 & 0xff), static_cast<char>(tag >> 24 & 0xff)};
  bool printable = true;
  for (char ch : c) printable = printable && ch >= 32 && ch <= 126;
  if (printable) return FormatText("%c%c%c%c / 0x%04X", c[0], c[1], c[2], c[3], tag);
  return FormatText("0x%04X", tag);
}

std::string ErrorCodeText(int code) {
  if (const char* text = Find(kLibraryErrors, code)) return text;
  if (code < 0) {
    if (const char* text = Find(kSystemErrors, -code)) return text;
  }
  if (ff::av_strerror) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    if (ff::av_strerror(code, buf, sizeof buf) == 0) return buf;
  }
  return FormatText("Error number %d occurred", code);
}

std::string ErrorText(const std::string& file_name, int code) {
  return file_name + ": " + ErrorCodeText(code);
}

int64_t TTimestampCorrection::Guess(int64_t reordered_pts, int64_t dts) {
  if (dts != AV_NOPTS_VALUE) {
    if (dts <= last_dts_) ++faulty_dts_;
    last_dts_ = dts;
  }
  if (reordered_pts != AV_NOPTS_VALUE) {
    if (reordered_pts <= last_pts_) ++faulty_pts_;
    last_pts_ = reordered_pts;
  }
  if (reordered_pts != AV_NOPTS_VALUE && (faulty_pts_ <= faulty_dts_ || dts == AV_NOPTS_VALUE)) {
    return reordered_pts;
  }
  return dts;
}

}  // namespace vidmill
