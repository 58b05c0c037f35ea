// SPDX-License-Identifier: GPL-3.0-or-later
// The car list reader on any bytes: it either fills the table with well-formed entries or
// stops with an error that names a line; and a table it read, written back out, reads
// back the same.

#include "catalogue/cartable.h"
#include "fuzzcheck.h"
#include "install/messages.h"
#include "runtime/error.h"
#include "runtime/sequentialinput.h"

#include <QStringList>
#include <memory>
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

// Reads a list; nullptr when the reader refuses it.
std::unique_ptr<CarTable> read(const QByteArray &bytes, QStringList *items = nullptr)
{
    auto table = std::make_unique<CarTable>();
    try {
        auto input = runtime::SequentialInput::fromBytes(bytes);
        readCarRecords(input, *table, [&](const QString &name) {
            if (items)
                items->append(name);
        });
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
        return nullptr;
    }
    return table;
}

// The table as a car list in which every text field is quoted; nothing when a field holds
// a double quote, which no field syntax can carry.
std::optional<QByteArray> write(const CarTable &table)
{
    QString text;
    for (int k = 0; k < table.CarCount; ++k) {
        if (table.CarName[k].contains(u'"') || table.CarModel[k].contains(u'"'))
            return std::nullopt;
        text +=
            u"\"%1\",\"%2\",%3\r\n"_s.arg(table.CarName[k], table.CarModel[k], table.CarColours[k]);
    }
    return text.toUtf8();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList items;
    const auto table = read(bytes, &items);
    if (!table)
        return 0;

    FUZZ_CHECK(table->CarCount >= 0 && table->CarCount <= CarTable::Size,
               QString::number(table->CarCount));
    FUZZ_CHECK(items.size() == table->CarCount, QString::number(items.size()));
    for (int k = 0; k < table->CarCount; ++k) {
        FUZZ_CHECK(items[k] == table->CarName[k], items[k]);
        bool ok = false;
        const int colours = table->CarColours[k].toInt(&ok);
        FUZZ_CHECK(ok && colours >= -32768 && colours <= 32767 &&
                       QString::number(colours) == table->CarColours[k],
                   table->CarColours[k]);
    }

    if (const auto written = write(*table)) {
        const auto again = read(*written);
        FUZZ_CHECK(again, QString::fromUtf8(*written));
        FUZZ_CHECK(again->CarCount == table->CarCount, QString::fromUtf8(*written));
        for (int k = 0; k < table->CarCount; ++k) {
            FUZZ_CHECK(again->CarName[k] == table->CarName[k], table->CarName[k]);
            FUZZ_CHECK(again->CarModel[k] == table->CarModel[k], table->CarModel[k]);
            FUZZ_CHECK(again->CarColours[k] == table->CarColours[k], table->CarColours[k]);
        }
    }
    return 0;
}
