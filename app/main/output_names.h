// Output file names: destination titles a user may give, and the path each
// output of a run gets.
//
// An output never replaces a source of the list, and two outputs of one run
// never share a name: a name that is taken gets the first free
// "title (2).ext", "title (3).ext", ... An existing file that is not a
// source is replaced only when the user chose to replace existing files.
#pragma once

#include <functional>

#include <QSet>
#include <QString>
#include <QStringList>

namespace vidmill {

// True when title can name an output inside the output folder: not empty or
// blank, no "/" or "\", no "..", no control character. Otherwise false with
// the reason for the user in *reason.
bool IsValidDestinationTitle(const QString& title, QString* reason = nullptr);

// The form in which two paths of one file compare equal.
QString PathKey(const QString& path);

class TOutputNamer {
 public:
  using TExists = std::function<bool(const QString& path)>;

  // sources: every source file of the run. exists: whether a file is there
  // (the file system by default).
  TOutputNamer(const QStringList& sources, bool replace_existing, TExists exists = {});

  // The path for folder / title + ext that this run may write, and claims it.
  // "" only when no free name is left (title (9999)).
  QString Claim(const QString& folder, const QString& title, const QString& ext);

 private:
  bool Free(const QString& path) const;

  QSet<QString> sources_;
  QSet<QString> claimed_;
  bool replace_existing_;
  TExists exists_;
};

}  // namespace vidmill
