// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/messagebox.h"

#include <QCoreApplication>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

// Without a window system the message can still be read on the terminal.
class StderrMessageBox : public MessageBoxService
{
public:
    int show(const QString &text, int style, const QString &title) override
    {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(title), qUtf8Printable(text));
        return style & vbYesNo ? vbNo : vbOK; // nobody to say yes
    }
};

StderrMessageBox g_stderrBox;
MessageBoxService *g_service = &g_stderrBox;

} // namespace

MessageBoxService *setMessageBoxService(MessageBoxService *service)
{
    return std::exchange(g_service, service ? service : &g_stderrBox);
}

QString applicationTitle()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? u"Quillmere"_s : name;
}

int MsgBox(const QString &text, int style, const QString &title)
{
    return g_service->show(text, style, title.isEmpty() ? applicationTitle() : title);
}

std::optional<int> ChooseFromList(const QString &text, const QStringList &items,
                                  const QString &title)
{
    return g_service->choose(text, items, title.isEmpty() ? applicationTitle() : title);
}

} // namespace runtime
