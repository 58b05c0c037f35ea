// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commandline.h"

#include "install/givenfile.h"
#include "records/undo.h"
#include "runtime/hostpath.h"
#include "texts/messages.h"
#include "texts/recordtexts.h"

#include <QCommandLineParser>
#include <QHash>

using namespace Qt::StringLiterals;

namespace {

// Qt's own options, as Qt 6 takes them off the command line (QCoreApplication,
// QGuiApplication, QApplication and the X11 platform): those followed by a value...
const QStringList QtValueOptions =
    u"platform platformpluginpath platformtheme plugin qwindowgeometry geometry qwindowtitle "
    u"title qwindowicon icon session style stylesheet display name visual qmljsdebugger "
    u"dialogs fontengine"_s.split(u' ');
// ...and the others.
const QStringList QtFlags = u"reverse widgetcount testability nograb dograb"_s.split(u' ');

} // namespace

Command parseCommandLine(const QStringList &arguments)
{
    // The program's own options, those that take a value first.
    const QStringList valued{u"undo"_s, u"undo-number"_s, u"forget"_s};
    const QStringList ours =
        valued + QStringList{u"installs"_s, u"undo-window"_s, u"help"_s, u"version"_s};
    QCommandLineParser parser;
    for (const QString &name : ours)
        parser.addOption({name, {}, valued.contains(name) ? u"value"_s : QString()});
    for (const QString &name : QtValueOptions)
        parser.addOption({name, {}, u"value"_s});
    for (const QString &name : QtFlags)
        parser.addOption({name, {}});

    // The parser reads a word after one dash as short options run together, none of which
    // the program has: so its own options written with one dash (-undo) are refused, and
    // Qt's are given their second dash here. An option's value stays as it is, whatever it
    // looks like, as Qt and the parser both take the word after the option.
    QStringList words{u"quillmere"_s};
    bool value = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments[i];
        if (word == u"--"_s && !value) {
            words += arguments.sliced(i);
            break;
        }
        if (value || !word.startsWith(u'-')) {
            words.append(word);
            value = false;
            continue;
        }
        const bool longForm = word.startsWith(u"--"_s);
        const QString name = word.sliced(longForm ? 2 : 1).section(u'=', 0, 0);
        const bool qt = QtValueOptions.contains(name) || QtFlags.contains(name);
        words.append(qt && !longForm ? u'-' + word : word);
        value = !word.contains(u'=') &&
                (QtValueOptions.contains(name) || (longForm && valued.contains(name)));
    }
    if (!parser.parse(words))
        return {};

    QStringList given = parser.optionNames();
    given.removeIf([&](const QString &name) { return !ours.contains(name); });
    const QStringList positional = parser.positionalArguments();
    const QString option = given.value(0);
    if (given.size() > 1)
        return {};
    if (option == u"undo"_s && positional.isEmpty() && !parser.value(option).isEmpty())
        return {Command::Undo, parser.value(option)};
    if (valued.contains(option) && positional.isEmpty()) {
        bool ok = false;
        const qint64 number = parser.value(option).toLongLong(&ok);
        if (!ok || number <= 0)
            return {};
        return {option == u"forget"_s ? Command::Forget : Command::Undo, std::nullopt, number};
    }
    if (option == u"installs"_s && positional.size() <= 1)
        return {Command::Installs,
                positional.isEmpty() ? std::nullopt : std::optional(positional[0])};
    // The others take no folder.
    const QHash<QString, Command::Kind> plain{{QString(), Command::MainWindow},
                                              {u"undo-window"_s, Command::UndoWindow},
                                              {u"help"_s, Command::Help},
                                              {u"version"_s, Command::Version}};
    if (option.isEmpty() && !positional.isEmpty())
        return {Command::MainWindow, std::nullopt, 0, positional};
    return {positional.isEmpty() ? plain.value(option, Command::Mistake) : Command::Mistake,
            std::nullopt};
}

Command checkGiven(Command command, runtime::FileSystem &files, const runtime::HostPaths &host)
{
    for (const QString &file : std::as_const(command.files)) {
        if (whatIsGiven(file, files, host) == Given::Nothing)
            return {};
    }
    return command;
}

namespace {

int undo(const Command &command, const records::Store &store, const runtime::HostPaths &host,
         QTextStream &out, QTextStream &err)
{
    const QString folder = command.gameFolder.value_or(QString::number(command.number));
    records::UndoOutcome outcome;
    try {
        const records::UndoTarget target = command.gameFolder
                                               ? records::UndoTarget::read(store, host, folder)
                                               : records::UndoTarget{QString(), command.number};
        outcome = records::UndoInstall(store, host, target,
                                       [&] { err << messages::UndoWaiting << Qt::endl; });
    } catch (const records::RecordsError &error) {
        outcome.error = error.error();
    }
    QTextStream &to = outcome.status == records::UndoOutcome::Failed ? err : out;
    for (const QString &line : messages::undoReport(outcome, folder))
        to << line << '\n';
    to.flush();
    return int(outcome.status);
}

int installs(const Command &command, const records::Store &store, const runtime::HostPaths &host,
             QTextStream &out)
{
    const records::Listing listing = records::RecordedInstalls(store, host, command.gameFolder);
    if (listing.installs.isEmpty() && listing.unreadable.isEmpty())
        out << messages::NoInstalls << '\n';
    for (const auto &install : listing.installs)
        out << messages::installLine(install) << '\n';
    for (const auto &damaged : listing.unreadable)
        out << messages::unreadableLine(damaged) << '\n';
    out.flush();
    return 0;
}

int forget(const Command &command, const records::Store &store, QTextStream &out)
{
    const records::Store::Forgotten forgotten = records::ForgetInstall(store, command.number);
    store.writeNote(forgotten.folder, messages::ForgottenNoteName,
                    messages::forgottenNote(command.number, forgotten).toUtf8());
    for (const QString &line : messages::forgottenReport(command.number, forgotten))
        out << line << '\n';
    out.flush();
    return 0;
}

} // namespace

int runCommand(const Command &command, runtime::FileSystem &files, const runtime::HostPaths &host,
               QTextStream &out, QTextStream &err)
{
    const records::Store store(files, host.dataFolder, host.user);
    try {
        switch (command.kind) {
        case Command::Undo:
            return undo(command, store, host, out, err);
        case Command::Installs:
            return installs(command, store, host, out);
        case Command::Forget:
            return forget(command, store, out);
        case Command::Help:
            out << messages::Usage << Qt::endl;
            return 0;
        case Command::Version:
            out << u"quillmere "_s << QStringLiteral(QUILLMERE_VERSION) << Qt::endl;
            return 0;
        case Command::MainWindow:
        case Command::UndoWindow:
        case Command::Mistake:
            break;
        }
    } catch (const records::RecordsError &error) {
        err << messages::describe(error.error()) << Qt::endl;
        return int(records::UndoOutcome::Failed);
    }
    err << messages::Usage << Qt::endl;
    return int(records::UndoOutcome::Failed);
}
