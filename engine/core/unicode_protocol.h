// File names on their way to the media libraries, and the engine's own file
// I/O behind every local file it opens.
//
// Library form. The libraries read "proto:rest" as a URL of protocol
// "proto", so a local file such as "take:2.mp4" or ":notes.mkv" would be
// misread (and fail with "Protocol not found"). Such names reach the
// libraries as "unicode:utf8:" followed by the name; everything else passes
// unchanged. On Linux a file name is a byte string that the libraries and the
// system take as it is, whatever its characters (Greek, CJK, even bytes that
// are not UTF-8), so the only names that need wrapping are those the
// libraries would read as a URL:
//   - names whose text before the first ':' is a protocol of the list
//     ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:" are never wrapped (a
//     URL of a known protocol, or a name that is wrapped already);
//   - "scheme://..." is a URL for the libraries and is not wrapped either;
//   - any other name that starts with letters, digits, '+', '-' or '.' (or
//     nothing) followed by ':' is wrapped.
//
// Engine file I/O. OpenInput and OpenOutputIO open every local file (wrapped
// names and plain paths) through a custom AVIOContext over POSIX calls
// instead of the libraries' file protocol: inputs are opened read-only and
// never created or truncated; every wait (a FIFO without a writer, a pipe
// without data) polls the format context's interrupt callback, so the
// interrupt registry (interrupt_cb.h) can cut it short. URLs of other
// protocols go to the libraries unchanged with the same interrupt callback.
//
// All functions may be called from any thread; an opened context is used by
// one thread at a time.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vidmill {

inline constexpr char kUnicodePrefix[] = "unicode:utf8:";
// Protocols whose URLs are never wrapped (names compared with their case).
inline constexpr char kUnwrappedProtocols[] = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

// Whether a file name must reach the libraries in the "unicode:utf8:" form.
bool NeedsWrapping(const std::string& name);
// The name as the libraries get it: "unicode:utf8:" + name when it needs
// wrapping, else the name unchanged. A new string per call, of any length.
std::string ToLibraryForm(const std::string& name);
// The file name behind a library form: strips "unicode:utf8:" when the text
// is longer than that prefix, else returns the text unchanged.
std::string FromLibraryForm(const std::string& library_form);
// Whether the engine opens a library-form name with its own file I/O (a
// wrapped name or a plain path) rather than through a library protocol.
bool IsEngineFile(const std::string& library_form);

// Opens an input for demuxing, like avformat_open_input.
//   *ctx: a context the caller allocated (avformat_alloc_context) and set up
//         (flags, interrupt callback), or null to have one allocated. When it
//         has no interrupt callback it gets the registry's.
//   name: the file name or URL (not the library form: converted here).
//   format: the forced input format, or null to detect it.
//   options: as for avformat_open_input (entries used are removed); may be null.
// Returns 0 with *ctx open; close it with CloseInput (never with
// avformat_close_input alone: the engine's I/O context must go with it).
// A negative library error code on failure: the context is freed and *ctx is
// null, exactly as avformat_open_input leaves it (so never close it again).
int OpenInput(AVFormatContext** ctx, const std::string& name, const AVInputFormat* format,
              AVDictionary** options);
// Closes an input opened by OpenInput (and its engine I/O context) and sets
// *ctx to null; does nothing when *ctx is null.
void CloseInput(AVFormatContext** ctx);

struct TInputCloser {
  void operator()(AVFormatContext* ctx) const { CloseInput(&ctx); }
};
// An open input that closes itself with CloseInput.
using TInputContext = std::unique_ptr<AVFormatContext, TInputCloser>;

// Opens the byte stream of an output for writing, like avio_open2 with
// AVIO_FLAG_WRITE: a local file is created (or emptied). int_cb: the
// output's interrupt callback, or null for the registry's. options: passed to
// the libraries' protocols for URLs; may be null.
// Returns 0 with *pb set; close it with CloseOutputIO. A negative library
// error code with *pb null on failure.
int OpenOutputIO(AVIOContext** pb, const std::string& name, const AVIOInterruptCB* int_cb,
                 AVDictionary** options);
// Flushes and closes a byte stream from OpenOutputIO and sets *pb to null.
// Returns 0 or the negative error of the last write or the close.
int CloseOutputIO(AVIOContext** pb);

// Whether a byte stream is one of the engine's own file I/O contexts.
bool IsEngineIO(const AVIOContext* pb);

}  // namespace vidmill
