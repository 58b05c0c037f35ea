// SPDX-License-Identifier: GPL-3.0-or-later
// The car list reader on any bytes: it either gives a list of well-formed cars or stops
// with an error that names a line; and a list it read, written back out, reads back the
// same.

#include "catalogue/cartable.h"
#include "fuzzcheck.h"
#include "runtime/error.h"
#include "runtime/sequentialinput.h"
#include "texts/messages.h"

#include <optional>

using namespace Qt::StringLiterals;

namespace {

int lineEnds(const QByteArray &bytes)
{
    int count = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' ||
            (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')))
            ++count;
    }
    return count;
}

// Reads a list; nothing when the reader refuses it.
std::optional<CarList> read(const QByteArray &bytes)
{
    try {
        auto input = runtime::SequentialInput::fromBytes(bytes);
        return readCarRecords(input);
    } catch (const runtime::RuntimeError &error) {
        // A line of the file, and a reason that is short whatever the field held.
        using runtime::ErrorKind;
        const runtime::Error &e = error.error();
        const QString reason = messages::reason(e);
        FUZZ_CHECK(e.kind == ErrorKind::CutShort || e.kind == ErrorKind::NotAnInteger ||
                       e.kind == ErrorKind::OutOfRange || e.kind == ErrorKind::TooManyRecords,
                   reason);
        FUZZ_CHECK(e.line >= 1 && e.line <= lineEnds(bytes) + 1, reason);
        FUZZ_CHECK(reason.size() < 200, reason);
        return std::nullopt;
    }
}

// The cars as a car list in which every text field is quoted; nothing when a field holds a
// double quote, which no field syntax can carry.
std::optional<QByteArray> write(const CarList &cars)
{
    QString text;
    for (const Car &car : cars) {
        if (car.name.contains(u'"') || car.model.contains(u'"'))
            return std::nullopt;
        text += u"\"%1\",\"%2\",%3\r\n"_s.arg(car.name, car.model, QString::number(car.colours));
    }
    return text.toUtf8();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto cars = read(bytes);
    if (!cars)
        return 0;

    FUZZ_CHECK(cars->size() <= MaxCars, QString::number(cars->size()));
    for (const Car &car : *cars)
        FUZZ_CHECK(car.colours >= -32768 && car.colours <= 32767, QString::number(car.colours));

    if (const auto written = write(*cars)) {
        const auto again = read(*written);
        FUZZ_CHECK(again, QString::fromUtf8(*written));
        FUZZ_CHECK(again->size() == cars->size(), QString::fromUtf8(*written));
        for (qsizetype k = 0; k < cars->size(); ++k) {
            const Car &car = cars->at(k), &back = again->at(k);
            FUZZ_CHECK(back.name == car.name, car.name);
            FUZZ_CHECK(back.model == car.model, car.model);
            FUZZ_CHECK(back.colours == car.colours, QString::number(car.colours));
        }
    }
    return 0;
}
