#include "runtime/filedialog.h"

#include "runtime/runtimeerror.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

// Without a window system there is nothing to choose a file in.
class NoFileDialog : public FileDialogService
{
public:
    std::optional<QString> openFile(const QString &) override
    {
        throw RuntimeError(u"Окно выбора файла недоступно"_s);
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
