// ChooseFolder: a modal, full-screen dialog (template 141, "Select Folder") with a tree of
// the device's folders, a line showing the selected folder, and a field and button that
// create a new folder inside the selected one. The tree is filled lazily: each folder is
// listed the first time it is expanded (hidden folders included), the root "\" at once.
// A folder's path is its parent's path, its name and a backslash ("\My Documents\Tracks\"),
// at most kMaxFolderChars characters: deeper folders are not listed, longer names are not
// created. Names holding a path separator, a control character or bytes that are not UTF-8
// are never listed or created.
// Threads: UI thread; one chooser is open at a time. Template and control ids:
// resources/Dialogs.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Types.h"

namespace kestrix::ui {

constexpr size_t kMaxFolderChars = 259;

// Runs the dialog. True when it ended with OK on a selected folder whose path, with room
// for a terminator, fits capacity characters; the path (ending with '\') is then in
// *folder. False, *folder untouched, when instance or folder is missing, the dialog cannot
// be shown, another chooser is open, or it was cancelled.
bool ChooseFolder(uintptr_t instance, platform::WindowHandle owner, std::string* folder, size_t capacity);

}  // namespace kestrix::ui
