#pragma once

#include "catalogue/cartable.h"
#include "install/installcontrols.h"

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
} // namespace messages

// The install button's whole work: checks the inputs, stopping at the first that fails
// with its message, records the chosen colours, then installs the car.
void InstallCar(InstallControls &form, const CarTable &cars, ColourSelection &ColourSelected);
