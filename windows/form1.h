#pragma once

#include "catalogue/cartable.h"
#include "install/installcar.h"
#include "install/installcontrols.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class Form2;

// The main window: the three path fields, the car list, the colour boxes and the install
// button. It owns the car table and the chosen colours for the whole run, and the folder
// picker while that is open.
class Form1 : public QWidget, public InstallControls
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);

    // Reads the car list into the table and the car list box. Throws
    // runtime::RuntimeError when the list cannot be read.
    void Form_Load(const QString &carListFile);

    QString Text1() const override;
    QString Text2() const override;
    QString Text3() const override;
    void setText1(const QString &text);
    void setText3(const QString &text) override;
    int Combo1ListIndex() const override;
    int CheckValue(int box) const override;

    // The caption of the game folder row, by which the picker knows which field it fills.
    QString Label1Caption() const;

    // The folder picker while it is open, else null.
    Form2 *folderPicker() const;

    // How long an install runs before its progress window shows.
    void setProgressDelay(int ms) { m_progressDelayMs = ms; }

public slots:
    void Combo1_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void showFolderPicker(const QString &caption);

    CarTable m_cars;
    ColourSelection m_colourSelected{};
    QPointer<Form2> m_form2;
    int m_progressDelayMs = 500;
    bool m_installing = false;
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
