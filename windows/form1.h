// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/cartable.h"
#include "install/installcar.h"
#include "runtime/hostpath.h"

#include <QPointer>
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
// button. It owns the car table and the chosen colours for the whole run, the folder picker
// while that is open, and the install while that runs. Installs write through `files`;
// paths are resolved against `host`.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    Form1(runtime::FileSystem &files, const runtime::HostPaths &host, QWidget *parent = nullptr);
    ~Form1() override;

    // Reads the car list into the table and the car list box. Throws
    // runtime::RuntimeError when the list cannot be read.
    void Form_Load(const QString &carListFile);

    QString Text1() const;
    QString Text2() const;
    QString Text3() const;
    void setText1(const QString &text);
    void setText3(const QString &text);
    int Combo1ListIndex() const;
    int CheckValue(int box) const; // box 1 to 4: 0 unticked, 1 ticked

    const runtime::HostPaths &host() const { return m_host; }

    // The caption of the game folder row, by which the picker knows which field it fills.
    QString Label1Caption() const;

public slots:
    void Combo1_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showFolderPicker(const QString &caption);
    void installFinished();

    runtime::FileSystem &m_files;
    runtime::HostPaths m_host;
    CarTable m_cars;
    ColourSelection m_colourSelected{};
    QPointer<Form2> m_form2;
    std::unique_ptr<InstallRun> m_install; // while an install runs and its outcome is shown
    std::unique_ptr<InstallProgressDialog> m_progress;
    bool m_closeRequested = false; // while installing

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
