#pragma once

#include "catalogue/cartable.h"
#include "install/installcontrols.h"
#include "runtime/fileops.h"

#include <QList>
#include <QString>
#include <array>

// The colours chosen by the last install that passed its checks: entries 0 to 3 stand for
// the colour boxes 1 to 4; entry 4 is never set.
using ColourSelection = std::array<bool, 5>;

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
inline const QString SameNameAs =
    QStringLiteral("для игры это то же имя, что у «%1», а он уже установлен");
} // namespace messages

// Told of each file as the install is about to write it.
class InstallProgress
{
public:
    virtual ~InstallProgress() = default;
    // `done` files of `total` are written or failed; `file` is the next, named from the
    // game folder on.
    virtual void copying(int done, int total, const QString &file) = 0;
    // The copies made so far are being flushed to disk and put in place.
    virtual void writingOut() {}
    // The install has done all it can; its closing message comes next.
    virtual void finished() {}
};

// What an install did: the check that stopped it, or the files it could not write (named
// from the game folder on, with the reason for each) and the number it wrote.
struct InstallOutcome
{
    QString failedCheck; // the failed check's message; "" when every check passed

    struct NotWritten
    {
        QString file;
        QString reason;
        bool operator==(const NotWritten &) const = default;
    };
    QList<NotWritten> notWritten;
    int written = 0;

    bool installed() const { return failedCheck.isEmpty() && notWritten.isEmpty(); }
};

// The message box that tells the player the outcome.
struct ClosingMessage
{
    QString text;
    int style;
    QString title; // "" for the application's title
};
ClosingMessage closingMessage(const InstallOutcome &outcome);

// The install button's whole work: checks the inputs, stopping at the first that fails,
// and records the chosen colours; then copies the model file over the chosen colours'
// model files and the Maps folder's files into the game's maps folder. Every copy is tried
// even when others fail. `plannedFaults` make file operations fail, for tests.
InstallOutcome InstallCar(InstallControls &form, const CarTable &cars,
                          ColourSelection &ColourSelected, InstallProgress *progress = nullptr,
                          const QList<runtime::testing::Fault> &plannedFaults = {});
