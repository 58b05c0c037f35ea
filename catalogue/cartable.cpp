// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/cartable.h"

#include "runtime/error.h"
#include "runtime/processinfo.h"
#include "runtime/sequentialinput.h"

#include <algorithm>

using namespace Qt::StringLiterals;

ColourUse colourUse(const Car &car)
{
    const bool boxes = car.colours >= 1 && car.colours <= 4;
    return {boxes ? car.colours : 0, std::clamp(car.colours, 0, 4)};
}

QString carListPath()
{
    return runtime::programFolder() + u"\\cars.txt"_s;
}

CarList readCarList(runtime::FileSystem &files, const QString &path, const runtime::HostPaths &host)
{
    try {
        runtime::SequentialInput input(files, path, host);
        return readCarRecords(input);
    } catch (const runtime::RuntimeError &error) {
        runtime::Error named = error.error();
        named.path = path;
        throw runtime::RuntimeError(named);
    }
}

CarList readCarRecords(runtime::SequentialInput &input)
{
    CarList cars;
    while (!input.atEnd()) {
        Car car;
        car.name = input.readText();
        const int line = input.line();
        car.model = input.readText();
        car.colours = input.readInt16();
        if (cars.size() == MaxCars)
            throw runtime::RuntimeError({runtime::ErrorKind::TooManyRecords,
                                         runtime::Operation::ParseText, 0, QString(),
                                         QString::number(MaxCars), line});
        cars.append(std::move(car));
    }
    return cars;
}
