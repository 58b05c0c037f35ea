#pragma once

#include "install/installcar.h"
#include "runtime/fileops.h"
#include "testsupport.h"

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

// Records the files an install announces; `before` may act just before one is copied.
class RecordingProgress : public InstallProgress
{
public:
    void copying(int done, int total, const QString &file) override
    {
        files.append(file);
        steps.append({done, total});
        if (before)
            before(file);
    }
    QStringList files;
    QList<QPair<int, int>> steps;
    std::function<void(const QString &)> before;
};

// Clears injected faults however a test ends.
struct FaultScope
{
    explicit FaultScope(const QList<runtime::testing::Fault> &faults)
    {
        runtime::testing::setFaults(faults);
    }
    ~FaultScope() { runtime::testing::clearFaults(); }
};

// A game folder with stock files, a new car with two textures and a note, and controls
// that point at them.
class Game
{
public:
    Game()
    {
        tree.file(u"Game/a0.dta"_s);
        tree.file(u"Game/models/bolt00.4ds"_s, "stock 00");
        tree.file(u"Game/models/bolt10.4ds"_s, "stock 10");
        tree.file(u"Game/maps/road.bmp"_s, "stock road");
        tree.file(u"new/car.4ds"_s, "new model");
        tree.file(u"new/Maps/body.bmp"_s, "body");
        tree.file(u"new/Maps/glass.tga"_s, "glass");
        tree.file(u"new/Maps/readme.txt"_s, "notes");
        tree.file(u"new/Maps/.hidden.bmp"_s, "hidden");
        tree.file(u"new/Maps/sub/inner.bmp"_s, "inner");
        car(0, u"Bolt"_s, u"bolt"_s, u"3"_s);
        form.text1 = tree.path(u"Game"_s);
        form.text2 = tree.path(u"new/car.4ds"_s);
        form.text3 = tree.path(u"new/Maps"_s);
        form.listIndex = 0;
    }

    void car(int index, const QString &name, const QString &model, const QString &colours)
    {
        cars->CarName[index] = name;
        cars->CarModel[index] = model;
        cars->CarColours[index] = colours;
        cars->CarCount = std::max(cars->CarCount, index + 1);
    }

    void tick(std::initializer_list<int> boxes)
    {
        for (int box : boxes)
            form.checks[box - 1] = 1;
    }

    void install() { InstallCar(form, *cars, selected, &progress); }

    QByteArray game(const QString &relative) const
    {
        return TempTree::read(tree.path(u"Game/"_s + relative));
    }

    QStringList gameEntries() const
    {
        QStringList entries;
        for (const QString &entry : tree.entries())
            if (entry.startsWith(u"Game/"_s))
                entries.append(entry.mid(5));
        return entries;
    }

    const RecordingMessageBox::Shown &message() const { return boxes.shown.last(); }

    bool succeeded() const
    {
        return boxes.shown.size() == 1 && message().text == messages::Installed &&
               message().style == runtime::vbOKOnly && message().title == u"Quillmere"_s;
    }

    TempTree tree;
    std::unique_ptr<CarTable> cars = std::make_unique<CarTable>();
    FakeControls form;
    ColourSelection selected{};
    RecordingMessageBox boxes;
    RecordingProgress progress;
};
