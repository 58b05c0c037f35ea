// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/filedialog.h"

namespace runtime {

// The file-open dialog: the system's own where it suits (systemFileDialogSuits), else Qt's
// own dialog, which matches the filter's patterns without regard to case, as the game's file
// names need. Either answers with '/' between names.
class WidgetFileDialog : public FileDialogService
{
public:
    std::optional<QString> openFile(const QString &filter) override;
};

// A filter written as Windows' dialog takes it, "Cars (*.zip;*.7z)", as Qt's own dialog takes
// it: "Cars (*.zip *.7z)".
QString qtFilter(const QString &filter);

} // namespace runtime
