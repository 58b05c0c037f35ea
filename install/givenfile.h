// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/archivereader.h"
#include "runtime/error.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace runtime {
class FileSystem;
struct HostPaths;
} // namespace runtime

// A file or folder handed to the main window, dropped on it or named on the command line,
// and what it fills in.
enum class Given
{
    Archive,    // a car's archive: the model and Maps fields
    Model,      // a .4ds file: the model field
    GameFolder, // a folder holding the game's a0.dta: the game field
    Nothing,    // none of these
};
Given whatIsGiven(const QString &path, runtime::FileSystem &files, const runtime::HostPaths &host);

// The last component of a path, after its last separator of either kind.
QString lastComponent(const QString &path);

// What a car's archive offers: its models, in the archive's order, and the folder of textures
// nearest each.
struct ArchiveCar
{
    QString archive;                     // as the player named it
    QList<archives::Member> members;     // the archive's list
    QList<int> models;                   // the .4ds files' indexes into `members`
    std::optional<runtime::Error> error; // why the archive could not be read; then no models

    // The path of a member or folder inside the archive, as the fields take it.
    QString path(const QStringList &components, const runtime::HostPaths &host) const;
    // The model `model` (an index into `models`) as its path inside: "Wren Arrow/wren.4ds".
    QString modelName(int model) const;
};

// Reads an archive's list and finds the models in it. An archive's error is returned, not
// thrown: this runs away from the window.
ArchiveCar openCarArchive(const QString &archive, runtime::FileSystem &files,
                          const runtime::HostPaths &host);

// The folder of the car's textures for a model at `model`: the folder named "maps" in any
// case nearest it, else the nearest folder holding .bmp or .tga files; nearest by the
// folders passed, up and then down, the first in the archive's order of two as near. None
// where there is neither.
std::optional<QStringList> mapsNear(const QList<archives::Member> &members,
                                    const QStringList &model);
