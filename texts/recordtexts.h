// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/undo.h"

#include <QString>
#include <QStringList>

// The texts the player reads of the records of his installs and of their undo.
namespace messages {

// Why something of the records failed, as a clause.
QString reason(const records::Error &error);
// A sentence that says what failed and why.
QString describe(const records::Error &error);

// One recorded install, on a line: its number, when, the game folder, the car, the number of
// files, or that it was not recorded whole, and why.
QString installLine(const records::InstallRecord &install);
// The same, with the space its record holds and where its game folder is now.
QString installLine(const records::ListedInstall &listed);
// A record that cannot be read, on a line.
QString unreadableLine(const records::ListedUnreadable &listed);

// What an undo did: a line for each install cut short that it took away, one for the
// install, one for each file, and the outcome.
QStringList undoReport(const records::UndoOutcome &outcome, const QString &gameFolder);

// What giving up a record did, for the player: where its files went.
QStringList forgottenReport(qint64 number, const records::Store::Forgotten &forgotten);
// The note left beside the files of a record given up: its name and its text.
inline const QByteArray ForgottenNoteName = QByteArrayLiteral("список файлов.txt");
QString forgottenNote(qint64 number, const records::Store::Forgotten &forgotten);

inline const QString UndoWindowTitle = QStringLiteral("Отменить установку машины");
inline const QString RecordedInstalls = QStringLiteral("Записанные установки, новые первыми:");
inline const QString UndoLast = QStringLiteral("Отменить последнюю установку");
inline const QString UndoAll = QStringLiteral("Отменить все установки в эту папку");
inline const QString Forget = QStringLiteral("Забыть запись…");
inline const QString Close = QStringLiteral("Закрыть");
inline const QString UndoProgress = QStringLiteral("Ход отмены");
inline const QString ForgetQuestion = QStringLiteral(
    "Забыть запись установки №%1? Отменить её будет уже нельзя. Ничего не удаляется: "
    "файлы игры, которые она заменила, будут перенесены в папку, которую программа назовёт.");

} // namespace messages
