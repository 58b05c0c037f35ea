#include "catalogue/cartable.h"

#include "runtime/fileops.h"
#include "runtime/runtimeerror.h"
#include "runtime/sequentialinput.h"
#include "runtime/textconv.h"

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

ColourUse colourUse(const CarTable &cars, int index)
{
    if (index < 0 || index > CarTable::MaxIndex)
        throw runtime::RuntimeError(u"Нет машины с номером %1"_s.arg(index));
    const double count = runtime::toNumber(cars.CarColours[size_t(index)]);
    const bool boxes = count == 1 || count == 2 || count == 3 || count == 4;
    return {boxes ? int(count) : 0, int(std::clamp(std::floor(count), 0.0, 4.0))};
}

QString carListPath()
{
    return runtime::programFolder() + u"\\cars.txt"_s;
}

void readCarList(const QString &path, CarTable &table,
                 const std::function<void(const QString &)> &addItem)
{
    try {
        table.CarCount = 0;
        runtime::SequentialInput input(path);
        readCarRecords(input, table, addItem);
    } catch (const runtime::RuntimeError &error) {
        throw runtime::RuntimeError(u"Ошибка в списке машин «%1»: %2."_s.arg(
            QString(path).replace(u'\\', u'/'), error.message()));
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
            throw runtime::RuntimeError(
                u"строка %1: машин больше %2, лишние записи не помещаются в список"_s.arg(line).arg(
                    CarTable::Size));
        table.CarName[table.CarCount] = name;
        table.CarModel[table.CarCount] = model;
        table.CarColours[table.CarCount] = runtime::int16Text(colours);
        if (addItem)
            addItem(name);
        ++table.CarCount;
    }
}
