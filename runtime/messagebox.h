// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace runtime {

// Message box styles.
enum MsgBoxStyle
{
    vbOKOnly = 0,
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
};

enum MsgBoxResult
{
    vbOK = 1,
    vbYes = 6,
    vbNo = 7,
};

// Shows a modal message box. The program installs the widget one at start; tests install
// one that records what would have been shown.
class MessageBoxService
{
public:
    virtual ~MessageBoxService() = default;
    virtual int show(const QString &text, int style, const QString &title) = 0;
    // Asks for one of `items`, shown in their order; nullopt when the user cancels. Where
    // nobody can answer, nothing is chosen.
    virtual std::optional<int> choose(const QString & /*text*/, const QStringList & /*items*/,
                                      const QString & /*title*/)
    {
        return std::nullopt;
    }
};

// Installs the service used by MsgBox and returns the one it replaces.
MessageBoxService *setMessageBoxService(MessageBoxService *service);

// The program's title, shown by a message box given no title of its own.
QString applicationTitle();

// Shows `text` with the given style; an empty title means the application's title.
// Returns the button pressed.
int MsgBox(const QString &text, int style = vbOKOnly, const QString &title = QString());

// Shows `text` over a list of `items` to choose one from: its index, or nullopt when none
// was chosen.
std::optional<int> ChooseFromList(const QString &text, const QStringList &items,
                                  const QString &title = QString());

} // namespace runtime
