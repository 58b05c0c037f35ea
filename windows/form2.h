// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class DirListBox;
class Form1;
class QComboBox;
class QLabel;
class QPushButton;

// The folder picker: a drive list and a folder list. Its OK button writes the opened folder
// into the main window's game folder field when its label reads as the game folder row's
// caption, and into the Maps folder field otherwise, then closes the picker. Closed, it
// deletes itself.
class Form2 : public QWidget
{
    Q_OBJECT

public:
    // A window of its own, owned by `form1`, starting at the current drive and folder.
    explicit Form2(Form1 &form1);

    void setLabel1Caption(const QString &caption);

public slots:
    void Drive1_Change();
    void Command1_Click();

private:
    // Selects the drive that holds `folder` in the drive list, without a Change.
    void showDriveOf(const QString &folder);
    // The roots of the drives in the drive list.
    QStringList driveRoots() const;

    Form1 &m_form1;
    QComboBox *m_drive1;
    DirListBox *m_dir1;
    QLabel *m_label1;
    QPushButton *m_command1;
    QString m_drive; // the root of the drive shown, which only a Change alters
};
