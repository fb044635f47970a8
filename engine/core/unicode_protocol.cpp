#include "unicode_protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "entry_points.h"
#include "interrupt_cb.h"

namespace vidmill {
namespace {

constexpr size_t kPrefixLength = sizeof(kUnicodePrefix) - 1;  // 13
constexpr int kIOBufferSize = 32768;
constexpr int kPollSliceMs = 50;  // how long a wait goes between interrupt checks

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '-' || c == '.';
}

// Position of the ':' that ends a protocol prefix as the libraries read one
// (a run of scheme characters, possibly empty, then ':'), or npos.
size_t ProtocolColon(const std::string& name) {
  size_t i = 0;
  while (i < name.size() && IsSchemeChar(name[i])) ++i;
  return (i < name.size() && name[i] == ':') ? i : std::string::npos;
}

bool IsUnwrappedProtocol(const std::string& name) {
  const size_t colon = name.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string key = ":" + name.substr(0, colon) + ":";
  return std::string_view(kUnwrappedProtocols).find(key) != std::string_view::npos;
}

bool IsWrapped(const std::string& s) {
  return s.size() > kPrefixLength && s.compare(0, kPrefixLength, kUnicodePrefix) == 0;
}

// --- the engine's file I/O -------------------------------------------------

enum class Access { kRead, kWrite };

// One open file behind an AVIOContext (its opaque).
struct EngineFile {
  int fd = -1;
  bool waits_for_writer = false;  // a FIFO: no data yet is not the end
  AVIOInterruptCB int_cb{};
  EngineFile() = default;
  EngineFile(const EngineFile&) = delete;
  EngineFile& operator=(const EngineFile&) = delete;
  ~EngineFile() {
    if (fd >= 0) ::close(fd);
  }
};

bool Interrupted(const EngineFile& f) {
  return f.int_cb.callback && f.int_cb.callback(f.int_cb.opaque) != 0;
}

// Waits one slice for the file to become ready; the caller checks the
// interrupt between slices. Returns the poll events seen (0 on time-out).
short WaitSlice(int fd, short events) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, kPollSliceMs) > 0 ? p.revents : 0;
}

int EngineRead(void* opaque, uint8_t* buf, int size) {
  auto* f = static_cast<EngineFile*>(opaque);
  for (;;) {
    if (Interrupted(*f)) return AVERROR_EXIT;
    const ssize_t n = ::read(f->fd, buf, static_cast<size_t>(size));
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      if (!f->waits_for_writer) return AVERROR_EOF;
      // A FIFO reads 0 both before its first writer and after its last one;
      // only the latter is reported as a hang-up.
      const short ev = WaitSlice(f->fd, POLLIN);
      if ((ev & POLLHUP) && !(ev & POLLIN)) return AVERROR_EOF;
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      WaitSlice(f->fd, POLLIN);
      continue;
    }
    return AVERROR(errno);
  }
}

int EngineWrite(void* opaque, uint8_t* buf, int size) {
  auto* f = static_cast<EngineFile*>(opaque);
  int done = 0;
  while (done < size) {
    const ssize_t n = ::write(f->fd, buf + done, static_cast<size_t>(size - done));
    if (n >= 0) {
      done += static_cast<int>(n);
    } else if (errno == EAGAIN) {
      // Only a write that would block is abandoned: one that goes through
      // is never cut short, so a stop cannot tear a packet out of a file.
      if (Interrupted(*f)) return AVERROR_EXIT;
      WaitSlice(f->fd, POLLOUT);
    } else if (errno != EINTR) {
      return AVERROR(errno);
    }
  }
  return done;
}

int64_t EngineSeek(void* opaque, int64_t offset, int whence) {
  auto* f = static_cast<EngineFile*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat st {};
    if (::fstat(f->fd, &st) != 0) return AVERROR(errno);
    return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : AVERROR(ENOSYS);
  }
  const off_t pos = ::lseek(f->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return pos < 0 ? AVERROR(errno) : static_cast<int64_t>(pos);
}

// Opens a FIFO for writing once a reader is there, checking the interrupt.
int OpenFifoForWriting(const char* path, const AVIOInterruptCB& cb) {
  for (;;) {
    const int fd = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != ENXIO) return fd;
    if (cb.callback && cb.callback(cb.opaque)) {
      errno = EINTR;
      return -2;
    }
    ::usleep(kPollSliceMs * 1000);
  }
}

// Opens the file for reading (never for writing: inputs are left untouched)
// or creates/empties it for writing. Returns an fd or a negative error.
int OpenFd(const std::string& path, Access access, const AVIOInterruptCB& cb) {
  if (access == Access::kRead) {
    // Non-blocking, so a FIFO without a writer opens at once and its wait
    // happens in EngineRead, where it can be interrupted.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : AVERROR(errno);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
    const int fd = OpenFifoForWriting(path.c_str(), cb);
    if (fd == -2) return AVERROR_EXIT;
    return fd >= 0 ? fd : AVERROR(errno);
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd >= 0 ? fd : AVERROR(errno);
}

int OpenEngineIO(AVIOContext** pb, const std::string& path, Access access,
                 const AVIOInterruptCB& cb) {
  *pb = nullptr;
  auto file = std::make_unique<EngineFile>();
  file->int_cb = cb;
  file->fd = OpenFd(path, access, cb);
  if (file->fd < 0) return file->fd;
  struct stat st {};
  if (::fstat(file->fd, &st) != 0) return AVERROR(errno);
  if (S_ISDIR(st.st_mode)) return AVERROR(EISDIR);
  const bool seekable = S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
  file->waits_for_writer = S_ISFIFO(st.st_mode) && access == Access::kRead;

  auto* buffer = static_cast<unsigned char*>(ff::av_malloc(kIOBufferSize));
  if (!buffer) return AVERROR(ENOMEM);
  const bool write = access == Access::kWrite;
  *pb = ff::avio_alloc_context(buffer, kIOBufferSize, write ? 1 : 0, file.get(),
                               write ? nullptr : &EngineRead, write ? &EngineWrite : nullptr,
                               seekable ? &EngineSeek : nullptr);
  if (!*pb) {
    ff::av_free(buffer);
    return AVERROR(ENOMEM);
  }
  (*pb)->seekable = seekable ? AVIO_SEEKABLE_NORMAL : 0;
  file.release();  // owned by the AVIOContext from here; freed by FreeEngineIO
  return 0;
}

int FreeEngineIO(AVIOContext** pb) {
  AVIOContext* io = *pb;
  if (io->write_flag) ff::avio_flush(io);
  int err = io->error < 0 ? io->error : 0;
  std::unique_ptr<EngineFile> file(static_cast<EngineFile*>(io->opaque));
  if (file->fd >= 0 && ::close(file->fd) != 0 && err == 0) err = AVERROR(errno);
  file->fd = -1;
  ff::av_freep(&io->buffer);
  ff::avio_context_free(pb);
  return err;
}

}  // namespace

bool NeedsWrapping(const std::string& name) {
  if (IsUnwrappedProtocol(name)) return false;
  const size_t colon = ProtocolColon(name);
  if (colon == std::string::npos) return false;      // a plain path for the libraries
  if (name.compare(colon, 3, "://") == 0 && colon > 0) return false;  // a URL of another protocol
  return true;
}

std::string ToLibraryForm(const std::string& name) {
  return NeedsWrapping(name) ? kUnicodePrefix + name : name;
}

std::string FromLibraryForm(const std::string& library_form) {
  return IsWrapped(library_form) ? library_form.substr(kPrefixLength) : library_form;
}

bool IsEngineFile(const std::string& library_form) {
  return IsWrapped(library_form) ||
         (!library_form.empty() && ProtocolColon(library_form) == std::string::npos);
}

bool IsEngineIO(const AVIOContext* pb) {
  return pb && (pb->read_packet == &EngineRead || pb->write_packet == &EngineWrite);
}

int OpenInput(AVFormatContext** ctx, const std::string& name, const AVInputFormat* format,
              AVDictionary** options) {
  const std::string url = ToLibraryForm(name);
  if (!*ctx) {
    *ctx = ff::avformat_alloc_context();
    if (!*ctx) return AVERROR(ENOMEM);
  }
  AVFormatContext* c = *ctx;
  if (!c->interrupt_callback.callback) SetRegistryInterrupt(c);
  AVIOContext* pb = nullptr;
  const bool format_opens_itself = format && (format->flags & AVFMT_NOFILE);
  if (!c->pb && !format_opens_itself && IsEngineFile(url)) {
    const int err = OpenEngineIO(&pb, FromLibraryForm(url), Access::kRead, c->interrupt_callback);
    if (err < 0) {
      ff::avformat_free_context(c);
      *ctx = nullptr;
      return err;
    }
    c->pb = pb;
  }
  const int err = ff::avformat_open_input(ctx, url.c_str(), format, options);
  // On failure the library freed the context but never a byte stream of ours.
  if (err < 0 && pb) FreeEngineIO(&pb);
  return err;
}

void CloseInput(AVFormatContext** ctx) {
  if (!ctx || !*ctx) return;
  AVIOContext* pb = ((*ctx)->flags & AVFMT_FLAG_CUSTOM_IO) ? (*ctx)->pb : nullptr;
  if (!IsEngineIO(pb)) pb = nullptr;
  ff::avformat_close_input(ctx);
  if (pb) FreeEngineIO(&pb);
}

int OpenOutputIO(AVIOContext** pb, const std::string& name, const AVIOInterruptCB* int_cb,
                 AVDictionary** options) {
  *pb = nullptr;
  const AVIOInterruptCB cb = (int_cb && int_cb->callback) ? *int_cb : RegistryInterruptCB();
  const std::string url = ToLibraryForm(name);
  if (IsEngineFile(url)) return OpenEngineIO(pb, FromLibraryForm(url), Access::kWrite, cb);
  return ff::avio_open2(pb, url.c_str(), AVIO_FLAG_WRITE, &cb, options);
}

int CloseOutputIO(AVIOContext** pb) {
  if (!pb || !*pb) return 0;
  if (IsEngineIO(*pb)) return FreeEngineIO(pb);
  return ff::avio_closep(pb);
}

}  // namespace vidmill
