// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/cartable.h"

#include "runtime/error.h"
#include "runtime/processinfo.h"
#include "runtime/sequentialinput.h"
#include "runtime/textconv.h"

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

ColourUse colourUse(const CarTable &cars, int index)
{
    if (index < 0 || index > CarTable::MaxIndex)
        runtime::raise(runtime::ErrorKind::NoSuchRecord, runtime::Operation::Resolve, QString(),
                       QString::number(index));
    const double count = runtime::toNumber(cars.CarColours[size_t(index)]);
    const bool boxes = count == 1 || count == 2 || count == 3 || count == 4;
    return {boxes ? int(count) : 0, int(std::clamp(std::floor(count), 0.0, 4.0))};
}

QString carListPath()
{
    return runtime::programFolder() + u"\\cars.txt"_s;
}

void readCarList(const QString &path, const runtime::HostPaths &host, CarTable &table,
                 const std::function<void(const QString &)> &addItem)
{
    try {
        table.CarCount = 0;
        runtime::SequentialInput input(path, host);
        readCarRecords(input, table, addItem);
    } catch (const runtime::RuntimeError &error) {
        runtime::Error named = error.error();
        named.path = path;
        throw runtime::RuntimeError(named);
    }
}

void readCarRecords(runtime::SequentialInput &input, CarTable &table,
                    const std::function<void(const QString &)> &addItem)
{
    while (!input.atEnd()) {
        const QString name = input.readText();
        const int line = input.line();
        const QString model = input.readText();
        const qint16 colours = input.readInt16();
        if (table.CarCount > CarTable::MaxIndex)
            throw runtime::RuntimeError({runtime::ErrorKind::TooManyRecords,
                                         runtime::Operation::ParseText, 0, QString(),
                                         QString::number(CarTable::Size), line});
        table.CarName[table.CarCount] = name;
        table.CarModel[table.CarCount] = model;
        table.CarColours[table.CarCount] = runtime::int16Text(colours);
        if (addItem)
            addItem(name);
        ++table.CarCount;
    }
}
