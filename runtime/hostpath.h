#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// Maps the program's paths (backslash- or slash-separated, case-blind, optionally with a
// drive letter) onto the host file system, where names are case-sensitive bytes.
namespace runtime {

// Host file names are bytes. Valid UTF-8 decodes as text; every other byte b becomes the
// lone surrogate U+DC00+b, so that any name survives the round trip through QString.
QString decodeName(QByteArrayView bytes);
QByteArray encodeName(QStringView name);

// The key under which two names are equal when case is ignored.
inline QString caseKey(const QString &name)
{
    return name.toCaseFolded();
}

// A program path split into the host folder it starts from and its components.
struct SplitPath
{
    QByteArray root;        // "/" , the current folder, or a drive's folder
    QStringList components; // never empty strings
    bool trailingSeparator = false;
};

// Throws on a NUL character and on a drive letter whose drive is not ready.
SplitPath splitPath(const QString &path);

// Joins a host folder and one host name.
QByteArray joinHost(const QByteArray &folder, const QByteArray &name);

// The host name of the entry of `folder` that `name` denotes: "." and ".." when `folder` is
// a folder, the exact name when it exists, else the one entry equal to it case-blind.
// nullopt when there is none.
// Throws when several entries match case-blind and none exactly, and when the name is
// longer than the file system allows.
std::optional<QByteArray> findEntry(const QByteArray &folder, const QString &name);

// Resolves the first `count` components of `path` (all when -1). nullopt when one of
// them is missing.
std::optional<QByteArray> resolveComponents(const SplitPath &path, qsizetype count = -1);

// The host path of a program path when it exists, else nullopt.
std::optional<QByteArray> resolveExisting(const QString &path);

// A readable text, in the interface's language, for a system error number.
QString systemErrorText(int error);

// Throws when a name is longer than the file system allows.
void checkComponent(const QString &name);

} // namespace runtime
