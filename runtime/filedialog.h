// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

namespace runtime {

// The dialog in which the user chooses a file to open. The program installs the widget
// one at start; tests install one that answers as they preset.
class FileDialogService
{
public:
    virtual ~FileDialogService() = default;
    // `filter` is a description followed by its patterns in parentheses, as in
    // "Text files(*.txt)". Returns the chosen file, or nullopt when the user cancelled.
    virtual std::optional<QString> openFile(const QString &filter) = 0;
};

// Installs the service used by openFileDialog and returns the one it replaces.
FileDialogService *setFileDialogService(FileDialogService *service);

// Whether the system's own file dialog suits the game's files: it matches a filter's
// patterns without regard to case, and it speaks the player's language. Windows' does; a
// POSIX desktop's need not, and there Qt's own dialog is shown.
bool systemFileDialogSuits();

// Asks the user for a file to open. Throws RuntimeError when no dialog can be shown.
std::optional<QString> openFileDialog(const QString &filter);

} // namespace runtime
