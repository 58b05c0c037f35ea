// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

namespace runtime {
class FileSystem;
class SequentialInput;
struct HostPaths;
} // namespace runtime

// One of the game's stock cars, as a record of cars.txt describes it.
struct Car
{
    QString name;    // display name
    QString model;   // base name of the car's model files
    int colours = 0; // number of colour variants, a 16-bit integer
};

// The stock cars in file order: item k of the car list shows the name of car k.
using CarList = QList<Car>;

// The most records a car list may hold.
constexpr int MaxCars = 1001;

// What a car's colour count means for the windows and the installer.
struct ColourUse
{
    int boxes;       // colour boxes shown; 0 for a count outside 1 to 4, which leaves them be
    int installable; // colours that can be installed: those among the first four
};
ColourUse colourUse(const Car &car);

// The car list beside the program.
QString carListPath();

// Reads a car list. Throws runtime::RuntimeError that names the file, and the line where
// there is one: a missing or unreadable file, a colour count that is not a 16-bit integer,
// a record cut short by the end of the file, or more than MaxCars records.
CarList readCarList(runtime::FileSystem &files, const QString &path,
                    const runtime::HostPaths &host);

// Reads the records of an open car list. Throws runtime::RuntimeError that names the line
// and what is wrong.
CarList readCarRecords(runtime::SequentialInput &input);
