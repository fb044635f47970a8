#include "open_filter.h"

#include <iterator>

namespace vidmill {
namespace {

struct TFileType {
  const char* name;
  const char* patterns;  // "; "-separated
};

constexpr TFileType kVideoTypes[] = {
    {"MOD files", "*.mod"},
    {"High-definition files", "*.mts; *.ts; *m2ts; *.tp"},
    {"AVI files", "*.avi"},
    {"MPEG-4 files", "*.mp4; *.m4v"},
    {"MPEG files", "*.mpg; *.mpeg"},
    {"3GP files", "*.3gp; *.3g2"},
    {"Windows Media Video", "*.wmv; *.asf"},
    {"Real Media files", "*.rm; *.rmvb"},
    {"Video CD files", "*.dat"},
    {"Quick Time files", "*.mov"},
    {"Flash Video files", "*.flv; *.f4v"},
    {"Matroska files", "*.mkv"},
    {"Digital Video files", "*.dv"},
    {"NUT files", "*.nut"},
    {"Raw h.264 video files", "*.h.264"},
    {"Nullsoft Stream Video", "*.nsv"},
    {"Video Object files", "*.vob"},
};

constexpr TFileType kAudioTypes[] = {
    {"Advanced Audio Coding", "*.aac"},
    {"Dolby-digital AC-3", "*.ac3"},
    {"Monkey's Audio", "*.ape"},
    {"Digital Theater System", "*.dts"},
    {"Free Lossless Audio", "*.flac"},
    {"Matroska Audio", "*.mka"},
    {"MPEG Audio", "*.mpa"},
    {"MP2 MPEG-1 layer 2 audio", "*.mp2"},
    {"MP3 MPEG-1 layer 3 audio", "*.mp3"},
    {"MPEG-4 Audio", "*.m4a"},
    {"Musepack", "*.mpc"},
    {"OptimFROG Audio", "*.ofr"},
    {"OGG Vorbis Audio", "*.ogg"},
    {"RealAudio files", "*.ra"},
    {"The True Audio", "*.tta"},
    {"Waveform files", "*.wav"},
    {"Windows Media Audio", "*.wma"},
};

QStringList PatternsOf(const TFileType& t) {
  QStringList out;
  for (const QString& p : QString::fromLatin1(t.patterns).split(u';', Qt::SkipEmptyParts)) out << p.trimmed();
  return out;
}

template <size_t N>
QStringList PatternsOf(const TFileType (&types)[N]) {
  QStringList out;
  for (const TFileType& t : types) out << PatternsOf(t);
  return out;
}

QString Filter(const QString& name, const QStringList& patterns) {
  return name + QStringLiteral(" (") + patterns.join(u' ') + u')';
}

}  // namespace

QStringList SupportedPatterns() { return PatternsOf(kVideoTypes) + PatternsOf(kAudioTypes); }

QStringList OpenDialogFilters() {
  QStringList filters;
  filters << Filter(QStringLiteral("All Supported Formats"), SupportedPatterns())
          << Filter(QStringLiteral("Video Formats"), PatternsOf(kVideoTypes))
          << Filter(QStringLiteral("Audio Formats"), PatternsOf(kAudioTypes));
  for (const TFileType& t : kVideoTypes) filters << Filter(QString::fromLatin1(t.name), PatternsOf(t));
  for (const TFileType& t : kAudioTypes) filters << Filter(QString::fromLatin1(t.name), PatternsOf(t));
  return filters;
}

}  // namespace vidmill
