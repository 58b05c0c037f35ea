// SPDX-License-Identifier: GPL-3.0-or-later
#include "texts/recordtexts.h"

#include "runtime/hostpath.h"
#include "texts/messages.h"

#include <QDir>
#include <QLocale>
#include <algorithm>
#include <cerrno>

using namespace Qt::StringLiterals;
using records::Problem;
using records::UndoOutcome;
using records::UndoStep;

namespace messages {

namespace {

// What is wrong with a damaged record.
QString damage(const records::Error &error)
{
    const QString what = shortened(error.detail);
    switch (records::Damage(error.code)) {
    case records::Damage::NotJson:
        return u"не JSON (байт %1)"_s.arg(what);
    case records::Damage::NotAnObject:
        return what.isEmpty() ? u"не объект JSON"_s : u"поле «%1» не объект"_s.arg(what);
    case records::Damage::NoFormat:
        return u"нет версии"_s;
    case records::Damage::MissingField:
        return u"нет поля «%1»"_s.arg(what);
    case records::Damage::NotText:
        return u"поле «%1» не строка"_s.arg(what);
    case records::Damage::NotAPath:
        return u"поле «%1» не путь"_s.arg(what);
    case records::Damage::NotANumber:
        return u"поле «%1» не число"_s.arg(what);
    case records::Damage::NotAFlag:
        return u"поле «%1» не логическое"_s.arg(what);
    case records::Damage::NotAList:
        return u"поле «%1» не список"_s.arg(what);
    case records::Damage::UnknownValue:
        return u"неизвестное значение поля «%1»"_s.arg(what);
    case records::Damage::BadDate:
        return u"неверная дата"_s;
    case records::Damage::NotFromRoot:
        return u"папка игры не путь от корня"_s;
    case records::Damage::OutsideGame:
        return u"файл «%1» вне папки игры"_s.arg(what);
    case records::Damage::BadKeptName:
        return u"неверное имя сохранённого файла «%1»"_s.arg(what);
    case records::Damage::NotAFile:
        return u"это не обычный файл"_s;
    case records::Damage::Foreign:
        return u"она принадлежит другому пользователю или открыта другим для записи"_s;
    case records::Damage::TooLarge:
        return u"она слишком велика (допустимо не больше %1 байт)"_s.arg(what);
    }
    return u"код %1"_s.arg(error.code);
}

// A host path as the player reads it, with the system's separators.
QString hostText(const QByteArray &path)
{
    return printable(QDir::toNativeSeparators(runtime::decodeName(path)));
}

QString when(const records::InstallRecord &install)
{
    return install.when.toLocalTime().toString(u"dd.MM.yyyy HH:mm:ss"_s);
}

// Where the car came from, when from archives: «из архива …» after its name.
QString fromArchives(const records::InstallRecord &install)
{
    QStringList shown;
    for (const records::Archive &archive : install.archives)
        shown.append(u"«%1»"_s.arg(printable(archive.shown)));
    if (shown.isEmpty())
        return {};
    return (shown.size() == 1 ? u" из архива "_s : u" из архивов "_s) + shown.join(u", "_s);
}

QString held(qint64 bytes)
{
    return u"хранит %1 МБ"_s.arg(QLocale(QLocale::Russian).toString(bytes / 1048576.0, 'f', 1));
}

// What an undo says of a file, by the kind of its step: the text, and whether the file is
// one left as it is.
struct StepText
{
    UndoStep::Kind kind;
    const char16_t *text; // %1 the file, %2 the reason
    bool left;
};
constexpr StepText StepTexts[] = {
    {UndoStep::Restored, u"возвращён прежний файл: %1", false},
    {UndoStep::Removed, u"удалён: %1", false},
    {UndoStep::AlreadyBack, u"уже как до установки: %1", false},
    {UndoStep::Changed, u"оставлен, изменён после установки: %1", true},
    {UndoStep::NotKept, u"оставлен, прежний файл не был сохранён (%2): %1", true},
    {UndoStep::FolderRemoved, u"удалена папка: %1", false},
    {UndoStep::FolderLeft, u"оставлена папка, в ней есть другие файлы: %1", false},
    {UndoStep::Failed, u"не удалось: %1 — %2", false},
    {UndoStep::ReadOnly, u"оставлен, файл только для чтения: %1", true},
    {UndoStep::KeptChanged, u"оставлен, сохранённая копия изменилась после установки: %1", true},
};

bool did(const UndoOutcome &outcome, std::initializer_list<UndoStep::Kind> kinds)
{
    return std::any_of(outcome.steps.begin(), outcome.steps.end(), [&](const UndoStep &step) {
        return std::find(kinds.begin(), kinds.end(), step.kind) != kinds.end();
    });
}

// The outcome's last line, and what the player can do next.
QStringList closing(const UndoOutcome &outcome, int left, const QString &gameFolder)
{
    switch (outcome.status) {
    case UndoOutcome::Done:
        // Without an install, the one undone was cut short, as the lines above say.
        return outcome.install ? QStringList{u"Установка отменена."_s} : QStringList{};
    case UndoOutcome::FilesLeft: {
        QStringList lines{u"Установка отменена не полностью: оставлено файлов: %1."_s.arg(left)};
        if (did(outcome, {UndoStep::Changed, UndoStep::KeptChanged}))
            lines << u"Прежние файлы сохранены в «%1»; забрать их и забыть запись: "
                     u"quillmere --forget %2."_s.arg(hostText(outcome.install->folder),
                                                     QString::number(outcome.install->number()));
        return lines;
    }
    case UndoOutcome::NothingToUndo:
        return {
            u"Нечего отменять: установок в папку «%1» не записано."_s.arg(printable(gameFolder))};
    case UndoOutcome::Failed:
        break;
    }
    const QString why = outcome.error ? describe(*outcome.error) : QString();
    return {did(outcome, {UndoStep::Restored, UndoStep::Removed, UndoStep::FolderRemoved})
                ? u"Отмена прервана: %1. Запустите её ещё раз, она закончит работу."_s.arg(why)
                : u"Отмена не выполнена, ничего не изменено: %1."_s.arg(why)};
}

// Whether the undo was refused something for want of rights.
bool denied(const UndoOutcome &outcome)
{
    const auto isDenied = [](const std::optional<records::Error> &error) {
        return error && (error->problem == Problem::System
                             ? error->code == EACCES
                             : error->cause && error->cause->kind == runtime::ErrorKind::System &&
                                   error->cause->code == EACCES);
    };
    return isDenied(outcome.error) ||
           std::any_of(outcome.steps.begin(), outcome.steps.end(),
                       [&](const UndoStep &step) { return isDenied(step.error); });
}

} // namespace

QString reason(const records::Error &error)
{
    const QString detail = shortened(error.detail);
    switch (error.problem) {
    case Problem::System:
        return systemReason(error.code);
    case Problem::Runtime:
        return error.cause ? reason(*error.cause) : QString();
    case Problem::Damaged:
        return u"запись об установке повреждена: %1"_s.arg(damage(error));
    case Problem::Newer:
        return u"запись об установке сделана более новой версией программы (формат %1)"_s.arg(
            detail);
    case Problem::NoDataFolder:
        return u"нет папки для записей программы"_s;
    case Problem::NotOwn:
        return u"записи об установках принадлежат другому пользователю или открыты другим для "
               u"записи"_s;
    case Problem::NotRecorded:
        return u"установка не была записана целиком%1, отменить её нельзя"_s.arg(
            error.code ? u" (%1)"_s.arg(systemReason(error.code)) : QString());
    case Problem::NotNewest:
        return u"сначала отмените более новую установку в ту же папку (№%1)"_s.arg(detail);
    case Problem::KeptMissing:
        return u"сохранённая копия не найдена"_s;
    case Problem::GameMoved:
        return detail.isEmpty() ? u"установки записаны для папки, которой здесь больше нет: она "
                                  u"переименована, перенесена или удалена"_s
                                : u"установки записаны для другой папки, она теперь «%1»"_s.arg(
                                      hostText(runtime::encodeName(error.detail)));
    case Problem::Ambiguous:
        return u"«%1» — и папка, и номер установки: для папки напишите --undo ./%1, для "
               u"установки №%1 — --undo-number %1"_s.arg(printable(detail));
    case Problem::NoSuchInstall:
        return u"установки №%1 нет в записях"_s.arg(printable(detail));
    }
    return {};
}

QString describe(const records::Error &error)
{
    if (error.problem == Problem::Runtime && error.cause)
        return describe(*error.cause);
    const QString path = printable(error.path);
    if (error.problem == Problem::System && error.step == records::Step::WriteRecord &&
        !path.isEmpty())
        return u"Папка записей «%1» недоступна для записи: %2"_s.arg(path, reason(error));
    if (path.isEmpty())
        return capitalised(reason(error));
    return u"«%1»: %2"_s.arg(path, reason(error));
}

QString installLine(const records::InstallRecord &install)
{
    QStringList colours;
    for (int colour : install.colours)
        colours.append(QString::number(colour));
    const QString start =
        u"№%1  %2  «%3»  %4"_s.arg(QString::number(install.number()), when(install),
                                   printable(install.gameFolder), printable(install.car)) +
        fromArchives(install);
    if (!install.complete)
        return start +
               u" — не записана: отменить нельзя (%1)"_s.arg(
                   install.notWritten ? reason(*install.notWritten) : u"запись не дописана"_s);
    QString line =
        start + u" (цвета %1), файлов: %2"_s.arg(colours.join(u", "_s)).arg(install.files());
    if (install.undone)
        line += u" — отменена, кроме изменённых после неё файлов"_s;
    return line;
}

QString installLine(const records::ListedInstall &listed)
{
    QString line = installLine(listed.record) + u"; "_s + held(listed.space);
    if (listed.where == records::ListedInstall::Gone)
        line += u" — папки игры нет на месте"_s;
    else if (listed.where == records::ListedInstall::Moved)
        line += u" — папка игры теперь «%1»"_s.arg(hostText(listed.now));
    return line;
}

QString unreadableLine(const records::ListedUnreadable &listed)
{
    return u"№%1  запись не читается: %2; %3"_s.arg(
        QString::number(listed.record.number()), describe(listed.record.error), held(listed.space));
}

QStringList undoReport(const UndoOutcome &outcome, const QString &gameFolder)
{
    QStringList lines;
    for (const records::Interrupted &cut : outcome.interrupted)
        lines.append(u"Установка №%1 прервана до того, как изменила игру: её запись убрана."_s.arg(
            records::sequence(cut.folder)));
    if (outcome.install)
        lines.append(u"Отмена установки: "_s + installLine(*outcome.install));
    int left = 0;
    for (const UndoStep &step : outcome.steps) {
        const auto *text = std::find_if(std::begin(StepTexts), std::end(StepTexts),
                                        [&](const StepText &t) { return t.kind == step.kind; });
        left += text->left;
        // One line a file, whatever its name holds: each text is filled in one pass.
        const QString line = QString::fromUtf16(text->text), file = printable(step.file);
        lines.append(line.contains(u"%2"_s)
                         ? line.arg(file, step.error ? reason(*step.error) : QString())
                         : line.arg(file));
    }
    lines += closing(outcome, left, gameFolder);
    if (outcome.guarded && denied(outcome))
        lines += guardedLines(*outcome.guarded);
    return lines;
}

QStringList forgottenReport(qint64 number, const records::Store::Forgotten &forgotten)
{
    QStringList lines{
        u"Запись установки №%1 забыта: отменить эту установку больше нельзя."_s.arg(number)};
    lines.append(
        forgotten.kept.isEmpty()
            ? u"Всё, что было в её папке, перенесено в «%1»."_s.arg(hostText(forgotten.folder))
            : u"Файлы игры, которые она заменила, перенесены в «%1»:"_s.arg(
                  hostText(forgotten.folder)));
    for (const auto &[file, name] : forgotten.kept)
        lines.append(u"  %1 — был %2"_s.arg(printable(runtime::decodeName(name)), printable(file)));
    return lines;
}

QString forgottenNote(qint64 number, const records::Store::Forgotten &forgotten)
{
    QStringList lines;
    if (const auto &record = forgotten.record)
        lines << u"Запись установки №%1 (%2, папка игры «%3», машина %4) забыта: отменить эту "
                 u"установку больше нельзя."_s.arg(QString::number(number), when(*record),
                                                   printable(record->gameFolder),
                                                   printable(record->car));
    else
        lines << u"Запись установки №%1 забыта; прочесть её не удалось. Здесь всё, что было в "
                 u"её папке."_s.arg(number);
    if (!forgotten.kept.isEmpty()) {
        lines << u"Здесь лежат файлы игры, которые она заменила, такими, какими они были до "
                 u"неё. Каждый назван номером и прежним именем:"_s;
        for (const auto &[file, name] : forgotten.kept)
            lines << u"%1 — был %2"_s.arg(printable(runtime::decodeName(name)), printable(file));
        lines << u"Чтобы вернуть файл в игру, скопируйте его на место и уберите из имени номер. "
                 u"Ненужные файлы можно удалить."_s;
    }
    return lines.join(u'\n') + u'\n';
}

} // namespace messages
