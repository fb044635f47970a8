// Output file names on disk: file identity, temporary names and moving a
// finished output into place.
#pragma once

#include <string>

namespace vidmill {

// Whether two paths name the same file: by device and inode when both exist,
// else by their normalised absolute paths.
bool SameFile(const std::string& a, const std::string& b);

// A new name for the temporary file of `final_name`, in the same folder
// (so that the finished file can be renamed into place), not existing yet.
std::string TemporaryNameFor(const std::string& final_name);

// Text as UTF-8: returned unchanged when it is valid UTF-8, else read as
// Latin-1 and converted.
std::string EnsureUtf8(const std::string& text);

}  // namespace vidmill
