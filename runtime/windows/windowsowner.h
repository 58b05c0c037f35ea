// SPDX-License-Identifier: GPL-3.0-or-later
// Who may change the program's own files on Windows (windowsowner.cpp): the judgement of a
// security descriptor, apart from any file, so that a test can hand it one.
#pragma once

#include <string>
#include <windows.h>

namespace runtime::windows {

// Whether a file or folder with this descriptor is the user's alone: owned by `user` (or,
// for an administrator, by the Administrators group), and with a DACL that lets no one but
// him, the system, the administrators and the creator-owner write to it, change its DACL
// or owner, or delete it.
bool isOwnOnly(PSECURITY_DESCRIPTOR descriptor, PSID user, bool administrator);

// The descriptor, in SDDL, that the records' folders are made with: full control for the
// process's user, the system and the administrators alone, nothing taken from the folder
// above. "" when the process's user cannot be read.
std::wstring privateFolderSddl();

} // namespace runtime::windows
