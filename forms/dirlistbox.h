// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/hostpath.h"

#include <QListWidget>
#include <QStringList>

// A folder list in the classic manner: the opened folder's ancestors from its drive's root
// down, the opened folder itself, then its subfolders, each level indented one step. A
// double click or Enter opens the highlighted folder; a single click only highlights it.
class DirListBox : public QListWidget
{
    Q_OBJECT

public:
    // Folders are read through `files`; the drives' roots are shown as the player writes
    // paths in `style`.
    DirListBox(runtime::FileSystem &files, runtime::PathStyle style, QWidget *parent = nullptr);

    // The roots of the drives; a folder's tree starts at the one that holds it, or at its
    // share's root.
    void setDriveRoots(const QStringList &roots);
    // The root that holds `folder`: of a drive, of a share, else "".
    QString rootOf(const QString &folder) const;

    // The opened folder, as a full path: no trailing "/" except for the root.
    QString Path() const { return m_path; }

    // Opens `folder`, a full path, and lists it. Throws runtime::RuntimeError when the folder
    // cannot be read; the list then stays as it was.
    void setPath(const QString &folder);

    // The folder that the item in `row` stands for.
    QString folderAt(int row) const;

    // The row of the opened folder.
    int openedRow() const { return m_openedRow; }

signals:
    void pathChanged(const QString &path);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Opens the folder of `row`, reporting an error in a message box.
    void openRow(int row);

    runtime::FileSystem &m_files;
    runtime::PathStyle m_style;
    QStringList m_roots;
    QString m_path;
    int m_openedRow = -1;
};
