// Gives the main window its dialogs: the profile chooser, "Profile
// Settings", "File Information", "Trim" and "Edit" (crop and adjust). The
// dialogs are created once, owned by the window, and edit the selected
// list entry in place.
//
// Thread rules: main thread only.
#pragma once

namespace vidmill {

class TMainForm;

void AttachDialogs(TMainForm& window);

}  // namespace vidmill
