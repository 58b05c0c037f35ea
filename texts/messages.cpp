// SPDX-License-Identifier: GPL-3.0-or-later
#include "texts/messages.h"

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
// is English as often as not. Where two numbers are one on a host, the first row speaks.
const std::pair<int, const char16_t *> SystemReasons[] = {
    {ENOENT, u"не найдено"},
    {ENOTDIR, u"часть пути не является папкой"},
    {EISDIR, u"это папка, а не файл"},
    {EEXIST, u"уже существует"},
    {ENOTEMPTY, u"папка не пуста"},
    {ENOSPC, u"нет места на диске"},
    {EDQUOT, u"превышена дисковая квота"},
    {EFBIG, u"файл слишком велик для этой файловой системы"},
    {EACCES, u"нет доступа"},
    {EPERM, u"нет доступа"},
    {EROFS, u"диск доступен только для чтения"},
    {EXDEV, u"файлы на разных файловых системах"},
    {EIO, u"ошибка ввода-вывода"},
#ifdef EUCLEAN
    {EUCLEAN, u"файловая система повреждена"},
#endif
    // On Windows also a file that the running game holds open.
    {EBUSY, u"файл занят (возможно, запущена игра)"},
    {ETXTBSY, u"файл занят (возможно, запущена игра)"},
    {ENAMETOOLONG, u"слишком длинное имя"},
    {ELOOP, u"слишком много символических ссылок"},
    {EMLINK, u"слишком много ссылок на файл"},
    {EMFILE, u"открыто слишком много файлов"},
    {ENFILE, u"открыто слишком много файлов"},
    {ENOMEM, u"не хватает памяти"},
    {EINVAL, u"недопустимая операция для этого файла"},
    {EOPNOTSUPP, u"файловая система не поддерживает эту операцию"},
    {ENOTSUP, u"файловая система не поддерживает эту операцию"},
    {ENOSYS, u"файловая система не поддерживает эту операцию"},
    {EAGAIN, u"ресурс временно недоступен"},
    {EWOULDBLOCK, u"ресурс временно недоступен"},
    {EINTR, u"операция прервана"},
    {ENOLCK, u"блокировка файлов недоступна"},
    {EDEADLK, u"взаимная блокировка файлов"},
    {ESTALE, u"сетевой файл больше недоступен"},
    {ETIMEDOUT, u"время ожидания истекло"},
    {ENOTCONN, u"диск отключён"},
    {ENODEV, u"нет такого устройства"},
    {ENXIO, u"нет такого устройства"},
#ifdef ENOMEDIUM
    {ENOMEDIUM, u"в устройстве нет носителя"},
#endif
};

} // namespace

QString systemReason(int error)
{
    for (const auto &[code, text] : SystemReasons) {
        if (code == error)
            return QString::fromUtf16(text);
    }
    return u"ошибка системы %1"_s.arg(error);
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

QString capitalised(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

QString printable(const QString &name)
{
    QString text;
    text.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        // Controls, and the marks that turn the direction of what follows.
        const bool hidden = u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029 ||
                            (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
        if (hidden)
            text += u"\\u{%1}"_s.arg(uint(u), 0, 16);
        else
            text += c;
    }
    return text;
}

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

namespace {

// Why an archive cannot be read.
QString archiveReason(ErrorKind kind, const QString &detail)
{
    switch (kind) {
    case ErrorKind::NotAnArchive:
        return u"это не архив ZIP, 7z или RAR"_s;
    case ErrorKind::Encrypted:
        return u"архив защищён паролем; распакуйте его другой программой"_s;
    case ErrorKind::UnknownMethod:
        return u"файлы в архиве сжаты методом «%1», который Quillmere не распаковывает; "
               u"распакуйте архив другой программой"_s.arg(detail);
    case ErrorKind::Damaged:
        return u"архив повреждён или скачан не полностью (%1)"_s.arg(detail);
    case ErrorKind::TooManyMembers:
        return u"в архиве больше %1 файлов"_s.arg(detail);
    case ErrorKind::TooMuchData:
        return detail.isEmpty()
                   ? u"файл в архиве распаковывается в больше данных, чем может в нём быть"_s
                   : u"файлы из архива занимают больше %1 байт"_s.arg(detail);
    default:
        return QString();
    }
}

} // namespace

QString reason(const runtime::Error &error)
{
    const QString detail = shortened(error.detail);
    QString text;
    switch (error.kind) {
    case ErrorKind::System:
        text = systemReason(error.code);
        break;
    case ErrorKind::NotFound:
        text = error.operation == Operation::Open ? u"исходный файл не найден"_s
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
    case ErrorKind::NameTaken:
        text = u"для игры это то же имя, что у «%1», а он уже установлен"_s.arg(detail);
        break;
    case ErrorKind::NoDialog:
        text = u"окно выбора файла недоступно"_s;
        break;
    case ErrorKind::NoRoot:
        text = u"путь должен начинаться с корня диска («C:\\») или общей папки "
               u"(«\\\\сервер\\папка»)"_s;
        break;
    case ErrorKind::ReservedName:
        text = u"имя «%1» недопустимо в Windows"_s.arg(detail);
        break;
    case ErrorKind::NotAnArchive:
    case ErrorKind::Encrypted:
    case ErrorKind::UnknownMethod:
    case ErrorKind::Damaged:
    case ErrorKind::TooManyMembers:
    case ErrorKind::TooMuchData:
        text = archiveReason(error.kind, detail);
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
    return u"«%1»: %2"_s.arg(error.path, reason(error));
}

QString noModelIn(const QString &archive)
{
    return u"«%1»: в архиве нет 3D файла машины (*.4ds)"_s.arg(printable(archive));
}

QStringList guardedLines(const runtime::GuardedFolder &guarded)
{
    const auto shown = [](const QByteArray &path) {
        return printable(QDir::toNativeSeparators(runtime::decodeName(path)));
    };
    QStringList lines{u"Папка игры находится в «%1», куда записывать может только "
                      u"администратор: запустите Quillmere от имени администратора или "
                      u"перенесите игру из этой папки."_s.arg(shown(guarded.root))};
    if (!guarded.virtualStore.isEmpty())
        lines << u"Копии файлов игры, записанные туда раньше без прав администратора, Windows "
                 u"хранит в «%1»: игра может читать старые файлы оттуда."_s.arg(
                     shown(guarded.virtualStore));
    return lines;
}

QString carListError(const runtime::Error &error)
{
    // The path the program made, written as the system writes paths.
    return u"Ошибка в списке машин «%1»: %2."_s.arg(
        QDir::toNativeSeparators(QString(error.path).replace(u'\\', u'/')), reason(error));
}

} // namespace messages

ClosingMessage closingMessage(const InstallOutcome &outcome)
{
    using namespace messages;
    if (outcome.failedCheck)
        return {checkText(*outcome.failedCheck), runtime::vbCritical, ErrorTitle};
    if (const auto &archive = outcome.archiveError)
        return {describe(*archive) + u"."_s, runtime::vbCritical, ErrorTitle};
    if (const auto &fault = outcome.programFault)
        return {InstallBroken.arg(fault->error ? describe(*fault->error) : fault->what),
                runtime::vbCritical, ErrorTitle};
    if (outcome.notWritten.isEmpty())
        return {Installed, runtime::vbOKOnly, QString()};

    constexpr qsizetype MaxListed = 10;
    QString text = PartlyInstalled + u"\n\n"_s + NotWritten;
    const qsizetype listed = std::min(outcome.notWritten.size(), MaxListed);
    for (const auto &[file, error] : outcome.notWritten.first(listed))
        text += u"\n%1 — %2"_s.arg(printable(file), reason(error));
    if (outcome.notWritten.size() > listed)
        text += u"\n"_s + AndMore.arg(outcome.notWritten.size() - listed);
    text += u"\n\n"_s + FilesWritten.arg(outcome.written);
    // Refused for want of rights, in a folder of programs: what to do about it.
    const bool denied =
        std::any_of(outcome.notWritten.begin(), outcome.notWritten.end(), [](const auto &n) {
            return n.error.kind == ErrorKind::System && n.error.code == EACCES;
        });
    if (outcome.guarded && denied)
        text += u"\n"_s + guardedLines(*outcome.guarded).join(u'\n');
    return {text, runtime::vbCritical, ErrorTitle};
}
