#include "windows/form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

// Window measures are in twips: 1440 to the inch, 15 to a pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

template <typename W> W *place(W *widget, const QRect &geometry)
{
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

Form1::Form1(QWidget *parent)
    : QWidget(parent),
      m_label1(place(new QLabel(u"Папка с игрой:"_s, this), twips(240, 240, 2055, 255))),
      m_label2(place(new QLabel(u"3D файл машины(*.4ds):"_s, this), twips(240, 600, 2415, 255))),
      m_label3(place(new QLabel(u"Папка Maps машины:"_s, this), twips(240, 960, 2295, 255))),
      m_text1(place(new QLineEdit(this), twips(2640, 240, 3015, 285))),
      m_text2(place(new QLineEdit(this), twips(2640, 600, 3015, 285))),
      m_text3(place(new QLineEdit(this), twips(2640, 960, 3015, 285))),
      m_command1(place(new QPushButton(u"..."_s, this), twips(5760, 240, 255, 255))),
      m_command2(place(new QPushButton(u"..."_s, this), twips(5760, 600, 255, 255))),
      m_command3(place(new QPushButton(u"..."_s, this), twips(5760, 960, 255, 255))),
      m_combo1(place(new QComboBox(this), twips(2640, 1800, 3375, 315))),
      m_label4(place(new QLabel(u"Машина для замены:"_s, this), twips(240, 1800, 2175, 255))),
      m_label5(place(new QLabel(u"Цвета машины для замены:"_s, this), twips(240, 2280, 2295, 255))),
      m_check{place(new QCheckBox(u"Цвет 1"_s, this), twips(2640, 2280, 855, 255)),
              place(new QCheckBox(u"Цвет 2"_s, this), twips(3480, 2280, 855, 255)),
              place(new QCheckBox(u"Цвет 3"_s, this), twips(4320, 2280, 855, 255)),
              place(new QCheckBox(u"Цвет 4"_s, this), twips(5160, 2280, 855, 255))},
      m_command4(place(new QPushButton(u"Установить машину"_s, this), twips(1440, 2760, 3495, 495)))
{
    setWindowTitle(u"Quillmere    by dunhallow"_s);
    setFixedSize(6120 / 15, 3450 / 15);
    connect(m_command4, &QPushButton::clicked, this, &Form1::Command4_Click);
}

void Form1::Form_Load(const QString &carListFile)
{
    m_combo1->clear();
    readCarList(carListFile, m_cars, [this](const QString &name) { m_combo1->addItem(name); });
    m_combo1->setCurrentIndex(-1);
}

QString Form1::Text1() const
{
    return m_text1->text();
}

QString Form1::Text2() const
{
    return m_text2->text();
}

QString Form1::Text3() const
{
    return m_text3->text();
}

void Form1::setText3(const QString &text)
{
    m_text3->setText(text);
}

int Form1::Combo1ListIndex() const
{
    return m_combo1->currentIndex();
}

int Form1::CheckValue(int box) const
{
    return m_check[box - 1]->isChecked() ? 1 : 0;
}

void Form1::Command4_Click()
{
    InstallCar(*this, m_cars, m_colourSelected);
}
