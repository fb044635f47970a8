// Snapshot file names: snapshot folder / destination title "_" number ext.
#pragma once

#include <functional>
#include <optional>

#include <QString>

namespace vidmill {

struct TSnapshotName {
  QString Path;
  int Number = 0;  // the counter's value used; the next snapshot starts at Number + 1
};

// The first name at counter or above that no file uses, e.g.
// "/shots/clip_3.jpg" when clip_1.jpg and clip_2.jpg exist. Nothing when the
// folder is empty (not chosen) or the title is empty. exists: the file
// system when empty.
std::optional<TSnapshotName> NextSnapshotName(const QString& folder, const QString& title, const QString& ext,
                                              int counter,
                                              const std::function<bool(const QString&)>& exists = {});

}  // namespace vidmill
