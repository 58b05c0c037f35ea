// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "install/installcar.h"
#include "runtime/error.h"

#include <QString>

// Every text the player reads, made here from the results and errors as data: those of the
// install and of the runtime's services here, those of the records and the undo in
// recordtexts.h.
namespace messages {

inline const QString ErrorTitle = QStringLiteral("Ошибка");
// The "c" between "Папка" and "игрой" is the Latin letter.
inline const QString BadGameFolder = QStringLiteral("Папка c игрой указана неверно");
inline const QString BadModelFile = QStringLiteral("Путь к файлу машины указан неверно");
inline const QString BadMapsFolder = QStringLiteral("Папка Maps указана неверно");
inline const QString NoTextures = QStringLiteral("Папка Maps не содержит файлов текстур");
inline const QString NoCar = QStringLiteral("Необходимо выбрать машину для замены");
inline const QString NoColour = QStringLiteral("Необходимо выбрать хотя бы один цвет");
inline const QString Installed = QStringLiteral("Машина успешно установлена!");
inline const QString PartlyInstalled = QStringLiteral("Машина установлена не полностью.");
inline const QString NotWritten = QStringLiteral("Не удалось записать:");
inline const QString AndMore = QStringLiteral("…и ещё %1");
inline const QString FilesWritten = QStringLiteral("Записано файлов: %1.");
inline const QString InstallBroken =
    QStringLiteral("Установка прервана из-за ошибки в программе: %1");
inline const QString ProgramFault = QStringLiteral("Ошибка в программе: %1");

// The model file dialog's second filter, and what is said when a car comes in an archive.
inline const QString ArchiveFilter = QStringLiteral("Архивы с машиной (*.zip;*.7z;*.rar)");
inline const QString ChooseModelTitle = QStringLiteral("Выбор 3D файла машины");
inline const QString ChooseModel =
    QStringLiteral("В архиве несколько 3D файлов машин. Выберите тот, что нужно установить:");
QString noModelIn(const QString &archive);

// The message of a failed check.
QString checkText(Check check);

// Why something failed, as a clause: "нет места на диске".
QString reason(const runtime::Error &error);
// The reason of an errno of the host.
QString systemReason(int error);

// A sentence that says what failed and why, for a box of its own.
QString describe(const runtime::Error &error);

// What the player can do where files were refused in a game folder inside a folder of
// programs: one line, and one more where the VirtualStore holds copies of its files.
QStringList guardedLines(const runtime::GuardedFolder &guarded);

// Why the car list cannot be read: the file, the line where there is one, and the reason.
QString carListError(const runtime::Error &error);

// A detail of any length as the player reads it: only its start, where it is long.
QString shortened(const QString &detail);
QString capitalised(QString text);
// A name from outside (a texture's, a folder's) as it may be printed: control characters and
// marks that turn the text's direction are written as escapes, so that a name can neither
// move the terminal's cursor nor begin a line of its own.
QString printable(const QString &name);

inline const QString UndoWaiting =
    QStringLiteral("В эту папку игры сейчас идёт установка или отмена: ждём её конца…");
inline const QString NoInstalls = QStringLiteral("Записанных установок нет.");
inline const QString Usage = QStringLiteral(
    "Использование:\n"
    "  quillmere                          окно установки машины\n"
    "  quillmere ФАЙЛ...                  то же, заполненное из архива с машиной, её 3D\n"
    "                                     файла (*.4ds) или папки игры\n"
    "  quillmere --undo ПАПКА_ИГРЫ        отменить последнюю установку в эту папку\n"
    "  quillmere --undo НОМЕР             отменить установку с этим номером из списка\n"
    "  quillmere --undo-number НОМЕР      то же, когда есть и папка с таким именем\n"
    "  quillmere --installs [ПАПКА_ИГРЫ]  список записанных установок, новые первыми\n"
    "  quillmere --forget НОМЕР           отказаться от записи установки: сохранённые ею\n"
    "                                     файлы переносятся в папку, которую она назовёт\n"
    "  quillmere --undo-window            окно отмены установок\n"
    "  quillmere --help                   эта справка\n"
    "  quillmere --version                версия программы\n"
    "Окна принимают и параметры Qt, например -platform offscreen или -style Fusion.");

} // namespace messages

// The message box that tells the player the outcome of an install.
struct ClosingMessage
{
    QString text;
    int style;
    QString title; // "" for the application's title
};
ClosingMessage closingMessage(const InstallOutcome &outcome);
