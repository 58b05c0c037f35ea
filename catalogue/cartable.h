// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <array>
#include <functional>

namespace runtime {
class SequentialInput;
struct HostPaths;
} // namespace runtime

// The game's stock cars, as listed in cars.txt: entry k of each array describes the k-th
// record of the file, and item k of the car list shows CarName[k].
struct CarTable
{
    static constexpr int MaxIndex = 1000;
    static constexpr int Size = MaxIndex + 1;

    std::array<QString, Size> CarName;    // display name
    std::array<QString, Size> CarModel;   // base name of the car's model files
    std::array<QString, Size> CarColours; // number of colour variants, as decimal text
    qint32 CarCount = 0;                  // index of the next record; the count when loaded
};

// What car `index`'s colour count means for the windows and the installer.
struct ColourUse
{
    int boxes;       // colour boxes shown; 0 for a count outside 1 to 4, which leaves them be
    int installable; // colours that can be installed: those among the first four
};
// Throws runtime::RuntimeError when the index lies outside the table or the count is not
// a number.
ColourUse colourUse(const CarTable &cars, int index);

// The car list beside the program.
QString carListPath();

// Reads a car list into `table`, calling `addItem` with each name as it is stored.
// Throws runtime::RuntimeError that names the file, and the line where there is one: a
// missing or unreadable file, a colour count that is not a 16-bit integer, a record cut
// short by the end of the file, or more records than the table holds.
void readCarList(const QString &path, const runtime::HostPaths &host, CarTable &table,
                 const std::function<void(const QString &)> &addItem = {});

// Reads the records of an open car list into `table` from index CarCount on. Throws
// runtime::RuntimeError that names the line and what is wrong.
void readCarRecords(runtime::SequentialInput &input, CarTable &table,
                    const std::function<void(const QString &)> &addItem = {});
