// SPDX-License-Identifier: GPL-3.0-or-later
#include "install/messages.h"

#include "records/undo.h"
#include "runtime/messagebox.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>

using namespace Qt::StringLiterals;
using runtime::ErrorKind;
using runtime::Operation;

namespace messages {

namespace {

// The host's reasons in the player's language: strerror would speak the system's, which
// is English as often as not.
QString systemErrorText(int error)
{
    switch (error) {
    case ENOENT:
        return u"не найдено"_s;
    case ENOTDIR:
        return u"часть пути не является папкой"_s;
    case EISDIR:
        return u"это папка, а не файл"_s;
    case EEXIST:
        return u"уже существует"_s;
    case ENOTEMPTY:
        return u"папка не пуста"_s;
    case ENOSPC:
        return u"нет места на диске"_s;
    case EDQUOT:
        return u"превышена дисковая квота"_s;
    case EFBIG:
        return u"файл слишком велик для этой файловой системы"_s;
    case EACCES:
    case EPERM:
        return u"нет доступа"_s;
    case EROFS:
        return u"диск доступен только для чтения"_s;
    case EXDEV:
        return u"файлы на разных файловых системах"_s;
    case EIO:
        return u"ошибка ввода-вывода"_s;
#ifdef EUCLEAN
    case EUCLEAN:
        return u"файловая система повреждена"_s;
#endif
    case EBUSY: // on Windows also a file that the running game holds open
    case ETXTBSY:
        return u"файл занят (возможно, запущена игра)"_s;
    case ENAMETOOLONG:
        return u"слишком длинное имя"_s;
    case ELOOP:
        return u"слишком много символических ссылок"_s;
    case EMLINK:
        return u"слишком много ссылок на файл"_s;
    case EMFILE:
    case ENFILE:
        return u"открыто слишком много файлов"_s;
    case ENOMEM:
        return u"не хватает памяти"_s;
    case EINVAL:
        return u"недопустимая операция для этого файла"_s;
    case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
    case ENOSYS:
        return u"файловая система не поддерживает эту операцию"_s;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return u"ресурс временно недоступен"_s;
    case EINTR:
        return u"операция прервана"_s;
    case ENOLCK:
        return u"блокировка файлов недоступна"_s;
    case EDEADLK:
        return u"взаимная блокировка файлов"_s;
    case ESTALE:
        return u"сетевой файл больше недоступен"_s;
    case ETIMEDOUT:
        return u"время ожидания истекло"_s;
    case ENOTCONN:
        return u"диск отключён"_s;
    case ENODEV:
    case ENXIO:
        return u"нет такого устройства"_s;
#ifdef ENOMEDIUM
    case ENOMEDIUM:
        return u"в устройстве нет носителя"_s;
#endif
    default:
        return u"ошибка системы %1"_s.arg(error);
    }
}

// A detail as the player reads it. What a file holds or a record names can be of any
// length, even a damaged one: only its start is shown.
QString shortened(const QString &detail)
{
    constexpr qsizetype Longest = 100;
    if (detail.size() <= Longest)
        return detail;
    qsizetype cut = Longest - 1;
    if (detail[cut - 1].isHighSurrogate())
        --cut;
    return detail.left(cut) + u'…';
}

// What is wrong with a damaged record.
QString damage(const runtime::Error &error)
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
    }
    return u"код %1"_s.arg(error.code);
}

QString capitalised(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

QString checkText(Check check)
{
    switch (check) {
    case Check::GameFolder:
        return BadGameFolder;
    case Check::ModelFile:
        return BadModelFile;
    case Check::MapsFolder:
        return BadMapsFolder;
    case Check::Textures:
        return NoTextures;
    case Check::Car:
        return NoCar;
    case Check::Colours:
        return NoColour;
    }
    return QString();
}

QString reason(const runtime::Error &error)
{
    const QString detail = shortened(error.detail);
    QString text;
    switch (error.kind) {
    case ErrorKind::System:
        text = systemErrorText(error.code);
        break;
    case ErrorKind::NotFound:
        text = error.operation == Operation::Open ? u"исходный файл не найден"_s
               : error.operation == Operation::Restore ? u"сохранённая копия не найдена"_s
               : error.operation == Operation::Resolve ? u"папка не найдена"_s
               : error.operation == Operation::CreateTemporary ? u"папка назначения не найдена"_s
               : error.operation == Operation::ReadText ? u"файл не найден"_s
                                                        : u"не найдено"_s;
        break;
    case ErrorKind::ReadOnly:
        text = u"файл только для чтения"_s;
        break;
    case ErrorKind::AmbiguousName:
        text = u"имя «%1» неоднозначно: в папке «%2» несколько записей, отличающихся только "
               u"регистром"_s.arg(detail, error.path);
        break;
    case ErrorKind::NameTooLong:
        text = u"слишком длинное имя: «%1…»"_s.arg(error.detail.left(40));
        break;
    case ErrorKind::NulInPath:
        text = u"путь содержит нулевой символ"_s;
        break;
    case ErrorKind::DriveNotReady:
        text = u"диск %1: не готов"_s.arg(detail);
        break;
    case ErrorKind::WildcardInFolder:
        text = u"знаки подстановки допустимы только в имени файла"_s;
        break;
    case ErrorKind::NoFileName:
        text = u"нет имени файла"_s;
        break;
    case ErrorKind::NoCurrentFolder:
        text = u"текущая папка недоступна"_s;
        break;
    case ErrorKind::NotANumber:
        text = u"«%1» не является числом"_s.arg(detail);
        break;
    case ErrorKind::CutShort:
        text = u"запись оборвана концом файла"_s;
        break;
    case ErrorKind::NotAnInteger:
        text = u"«%1» не является целым числом"_s.arg(detail);
        break;
    case ErrorKind::OutOfRange:
        text = u"число %1 вне допустимого диапазона от -32768 до 32767"_s.arg(detail);
        break;
    case ErrorKind::TooLarge:
        text = u"файл слишком велик (допустимо не больше %1 байт)"_s.arg(detail);
        break;
    case ErrorKind::TooManyRecords:
        text = u"машин больше %1, лишние записи не помещаются в список"_s.arg(detail);
        break;
    case ErrorKind::NoSuchRecord:
        text = u"нет машины с номером %1"_s.arg(detail);
        break;
    case ErrorKind::NameTaken:
        text = u"для игры это то же имя, что у «%1», а он уже установлен"_s.arg(detail);
        break;
    case ErrorKind::NoDialog:
        text = u"окно выбора файла недоступно"_s;
        break;
    case ErrorKind::DamagedRecord:
        text = u"запись об установке повреждена: %1"_s.arg(damage(error));
        break;
    case ErrorKind::NotRecorded:
        text = u"установка не была записана целиком%1, отменить её нельзя"_s.arg(
            error.code ? u" (%1)"_s.arg(systemErrorText(error.code)) : QString());
        break;
    case ErrorKind::NotOwnRecords:
        text = u"записи об установках принадлежат другому пользователю или открыты другим для "
               u"записи"_s;
        break;
    case ErrorKind::NotNewest:
        text = u"сначала отмените более новую установку в ту же папку (№%1)"_s.arg(error.detail);
        break;
    case ErrorKind::NewerRecord:
        text =
            u"запись об установке сделана более новой версией программы (формат %1)"_s.arg(detail);
        break;
    case ErrorKind::NoDataFolder:
        text = u"нет папки для записей программы"_s;
        break;
    }
    return error.line > 0 ? u"строка %1: %2"_s.arg(error.line).arg(text) : text;
}

QString describe(const runtime::Error &error)
{
    // These name what they speak of themselves.
    if (error.path.isEmpty() || error.kind == ErrorKind::AmbiguousName ||
        error.kind == ErrorKind::DriveNotReady || error.kind == ErrorKind::NoCurrentFolder)
        return capitalised(reason(error));
    if (error.operation == Operation::ReadFolder)
        return u"Папка «%1» недоступна: %2"_s.arg(error.path, reason(error));
    if (error.operation == Operation::WriteRecord && error.kind == ErrorKind::System)
        return u"Папка записей «%1» недоступна для записи: %2"_s.arg(error.path, reason(error));
    return u"«%1»: %2"_s.arg(error.path, reason(error));
}

QString carListError(const runtime::Error &error)
{
    // The path the program made, written as the system writes paths.
    return u"Ошибка в списке машин «%1»: %2."_s.arg(
        QDir::toNativeSeparators(QString(error.path).replace(u'\\', u'/')), reason(error));
}

QString installLine(const records::InstallRecord &install)
{
    QStringList colours;
    for (int colour : install.colours)
        colours.append(QString::number(colour));
    QString line = u"№%1  %2  «%3»  %4 (цвета %5), файлов: %6"_s.arg(
        QString::number(records::sequence(install.folder)),
        install.when.toLocalTime().toString(u"dd.MM.yyyy HH:mm:ss"_s), install.gameFolder,
        install.car, colours.join(u", "_s), QString::number(install.files()));
    if (!install.complete)
        line = u"№%1  %2  «%3»  %4 — не записана: отменить нельзя (%5)"_s.arg(
            QString::number(records::sequence(install.folder)),
            install.when.toLocalTime().toString(u"dd.MM.yyyy HH:mm:ss"_s), install.gameFolder,
            install.car,
            install.notWritten ? reason(*install.notWritten) : u"запись не дописана"_s);
    else if (install.undone)
        line += u" — отменена, кроме изменённых после неё файлов"_s;
    return line;
}

QString unreadableLine(const records::Unreadable &record)
{
    return u"№%1  запись не читается: %2"_s.arg(QString::number(records::sequence(record.folder)),
                                                describe(record.error));
}

QStringList undoReport(const UndoOutcome &outcome, const QString &gameFolder)
{
    QStringList lines;
    if (outcome.install)
        lines.append(u"Отмена установки: "_s + installLine(*outcome.install));
    int left = 0;
    for (const UndoStep &step : outcome.steps) {
        const QString why = step.error ? reason(*step.error) : QString();
        switch (step.kind) {
        case UndoStep::Restored:
            lines.append(u"возвращён прежний файл: %1"_s.arg(step.file));
            break;
        case UndoStep::Removed:
            lines.append(u"удалён: %1"_s.arg(step.file));
            break;
        case UndoStep::AlreadyBack:
            lines.append(u"уже как до установки: %1"_s.arg(step.file));
            break;
        case UndoStep::Changed:
            ++left;
            lines.append(u"оставлен, изменён после установки: %1"_s.arg(step.file));
            break;
        case UndoStep::NotKept:
            ++left;
            lines.append(u"оставлен, прежний файл не был сохранён (%1): %2"_s.arg(why, step.file));
            break;
        case UndoStep::FolderRemoved:
            lines.append(u"удалена папка: %1"_s.arg(step.file));
            break;
        case UndoStep::FolderLeft:
            lines.append(u"оставлена папка, в ней есть другие файлы: %1"_s.arg(step.file));
            break;
        case UndoStep::Failed:
            lines.append(u"не удалось: %1 — %2"_s.arg(step.file, why));
            break;
        case UndoStep::ReadOnly:
            ++left;
            lines.append(u"оставлен, файл только для чтения: %1"_s.arg(step.file));
            break;
        }
    }
    switch (outcome.status) {
    case UndoOutcome::Done:
        lines.append(u"Установка отменена."_s);
        break;
    case UndoOutcome::FilesLeft:
        lines.append(u"Установка отменена не полностью: оставлено файлов: %1."_s.arg(left));
        if (std::any_of(outcome.steps.begin(), outcome.steps.end(),
                        [](const UndoStep &s) { return s.kind == UndoStep::Changed; }))
            lines.append(u"Прежние файлы сохранены в «%1»."_s.arg(
                runtime::decodeName(outcome.install->folder)));
        break;
    case UndoOutcome::NothingToUndo:
        lines.append(u"Нечего отменять: установок в папку «%1» не записано."_s.arg(gameFolder));
        break;
    case UndoOutcome::Failed:
        lines.append((std::none_of(outcome.steps.begin(), outcome.steps.end(),
                                   [](const UndoStep &s) {
                                       return s.kind == UndoStep::Restored ||
                                              s.kind == UndoStep::Removed ||
                                              s.kind == UndoStep::FolderRemoved;
                                   })
                          ? u"Отмена не выполнена, ничего не изменено: %1."_s
                          : u"Отмена прервана: %1. Запустите её ещё раз, она закончит работу."_s)
                         .arg(outcome.error ? describe(*outcome.error) : QString()));
        break;
    }
    return lines;
}

} // namespace messages

ClosingMessage closingMessage(const InstallOutcome &outcome)
{
    using namespace messages;
    if (outcome.failedCheck)
        return {checkText(*outcome.failedCheck), runtime::vbCritical, ErrorTitle};
    if (!outcome.programFault.isEmpty())
        return {InstallBroken.arg(outcome.programFault), runtime::vbCritical, ErrorTitle};
    if (outcome.notWritten.isEmpty())
        return {Installed, runtime::vbOKOnly, QString()};

    constexpr qsizetype MaxListed = 10;
    QString text = PartlyInstalled + u"\n\n"_s + NotWritten;
    const qsizetype listed = std::min(outcome.notWritten.size(), MaxListed);
    for (const auto &[file, error] : outcome.notWritten.first(listed))
        text += u"\n%1 — %2"_s.arg(file, reason(error));
    if (outcome.notWritten.size() > listed)
        text += u"\n"_s + AndMore.arg(outcome.notWritten.size() - listed);
    text += u"\n\n"_s + FilesWritten.arg(outcome.written);
    return {text, runtime::vbCritical, ErrorTitle};
}
