// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/messagebox.h"

namespace runtime {

// Message boxes as modal Qt dialogs.
class WidgetMessageBox : public MessageBoxService
{
public:
    int show(const QString &text, int style, const QString &title) override;
    std::optional<int> choose(const QString &text, const QStringList &items,
                              const QString &title) override;
};

} // namespace runtime
