// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/cartable.h"
#include "install/givenfile.h"
#include "runtime/asynctask.h"
#include "runtime/hostpath.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class Form2;
class InstallProgressDialog;
class InstallRun;
namespace runtime {
class FileSystem;
}

// The main window: the three path fields, the car list, the colour boxes and the install
// button. It owns the car list for the whole run, the folder picker while that is open,
// and the install while that runs. Installs write through `files`; paths are resolved
// against `host`.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    Form1(runtime::FileSystem &files, const runtime::HostPaths &host, QWidget *parent = nullptr);
    ~Form1() override;

    // Reads the car list into the window and its car list box. Throws
    // runtime::RuntimeError when the list cannot be read.
    void loadCarList(const QString &carListFile);

    QString gameFolder() const;
    QString modelFile() const;
    QString mapsFolder() const;
    int chosenCar() const;             // -1 for none
    int colourBoxValue(int box) const; // box 1 to 4: 0 unticked, 1 ticked

    // Fills the window from a file or folder handed to it, dropped or named on the command
    // line: a car's archive fills the model and Maps fields, a .4ds file the model field, the
    // game's folder the game field; anything else changes nothing. It is looked at away from
    // the window, one at a time in the order given; opened() comes after each.
    void openGiven(const QString &path);

signals:
    void opened();

public slots:
    void showColourBoxes();
    void chooseGameFolder();
    void chooseModelFile();
    void chooseMapsFolder();
    void installClicked();

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Opens the picker, or raises the open one, for the row of `label` and `field`.
    void showFolderPicker(QLabel *label, QLineEdit *field);
    void installFinished();
    struct Opened
    {
        QString path;
        Given given = Given::Nothing;
        ArchiveCar car;
    };
    void openNext();
    void fillFrom(const Opened &opened);
    void fillFromArchive(const ArchiveCar &car);

    runtime::FileSystem &m_files;
    runtime::HostPaths m_host;
    CarList m_cars;
    QPointer<Form2> m_form2;
    QLineEdit *m_pickerField = nullptr;    // the field the open picker fills
    std::unique_ptr<InstallRun> m_install; // while an install runs and its outcome is shown
    std::unique_ptr<InstallProgressDialog> m_progress;
    bool m_closeRequested = false; // while installing
    QStringList m_toOpen;          // given, not yet looked at
    runtime::AsyncTask m_opening;  // looking at the first of them

    QLabel *m_label1;
    QLabel *m_label2;
    QLabel *m_label3;
    QLineEdit *m_text1;
    QLineEdit *m_text2;
    QLineEdit *m_text3;
    QPushButton *m_command1;
    QPushButton *m_command2;
    QPushButton *m_command3;
    QComboBox *m_combo1;
    QLabel *m_label4;
    QLabel *m_label5;
    QCheckBox *m_check[4];
    QPushButton *m_command4;
    QFrame *m_line1;
};
