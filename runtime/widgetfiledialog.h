// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/filedialog.h"

namespace runtime {

// The file-open dialog as Qt's own dialog, which matches the filter's patterns without
// regard to case, as the game's file names need.
class WidgetFileDialog : public FileDialogService
{
public:
    std::optional<QString> openFile(const QString &filter) override;
};

} // namespace runtime
