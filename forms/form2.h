// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class DirListBox;
class QComboBox;
class QLabel;
class QPushButton;
namespace runtime {
class FileSystem;
struct HostPaths;
} // namespace runtime

// The folder picker: a drive list and a folder list, under the caption of the field it
// fills. Its OK button hands the opened folder on by folderChosen, then closes the picker.
// Closed, it deletes itself.
class Form2 : public QWidget
{
    Q_OBJECT

public:
    // A window of its own, owned by `owner`, starting at the host's current drive and folder.
    Form2(QWidget &owner, runtime::FileSystem &files, const runtime::HostPaths &host);

    void setFieldCaption(const QString &caption);

signals:
    void folderChosen(const QString &folder);

public slots:
    void openChosenDrive();
    void okClicked();

private:
    // Selects the drive that holds `folder` in the drive list, without opening its root.
    void showDriveOf(const QString &folder);
    // The roots of the drives in the drive list.
    QStringList driveRoots() const;

    QComboBox *m_drive1;
    DirListBox *m_dir1;
    QLabel *m_label1;
    QPushButton *m_command1;
    QString m_drive; // the root of the drive shown
};
