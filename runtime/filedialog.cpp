// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/filedialog.h"

#include "runtime/error.h"

#include <utility>

namespace runtime {

namespace {

// Without a window system there is nothing to choose a file in.
class NoFileDialog : public FileDialogService
{
public:
    std::optional<QString> openFile(const QString &) override
    {
        raise(ErrorKind::NoDialog, Operation::ShowDialog);
    }
};

NoFileDialog g_noDialog;
FileDialogService *g_service = &g_noDialog;

} // namespace

FileDialogService *setFileDialogService(FileDialogService *service)
{
    return std::exchange(g_service, service ? service : &g_noDialog);
}

std::optional<QString> openFileDialog(const QString &filter)
{
    return g_service->openFile(filter);
}

} // namespace runtime
