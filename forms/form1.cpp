// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/form1.h"

#include "archive/archivetree.h"
#include "forms/form2.h"
#include "forms/formsupport.h"
#include "forms/installprogressdialog.h"
#include "forms/pathdrop.h"
#include "install/installrun.h"
#include "runtime/filedialog.h"
#include "runtime/messagebox.h"
#include "texts/messages.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStringListModel>

using namespace Qt::StringLiterals;

Form1::Form1(runtime::FileSystem &files, const runtime::HostPaths &host, QWidget *parent)
    : QWidget(parent), m_files(files), m_host(host)
{
    setWindowTitle(u"Quillmere    by dunhallow"_s);

    // Created in the order of their tab indices, but for the car list (below).
    const QString caption1 = u"Папка с игрой:"_s;
    const QString caption2 = u"3D файл машины(*.4ds):"_s;
    const QString caption3 = u"Папка Maps машины:"_s;
    const QString caption4 = u"Машина для замены:"_s;
    const QString caption5 = u"Цвета машины для замены:"_s;
    m_label1 = placeControl(new QLabel(caption1, this), u"Label1"_s, caption1, 240, 240, 2055, 255);
    m_label2 = placeControl(new QLabel(caption2, this), u"Label2"_s, caption2, 240, 600, 2415, 255);
    m_label3 = placeControl(new QLabel(caption3, this), u"Label3"_s, caption3, 240, 960, 2295, 255);
    m_text1 = placeControl(new QLineEdit(this), u"Text1"_s, caption1, 2640, 240, 3015, 285);
    m_text2 = placeControl(new QLineEdit(this), u"Text2"_s, caption2, 2640, 600, 3015, 285);
    m_text3 = placeControl(new QLineEdit(this), u"Text3"_s, caption3, 2640, 960, 3015, 285);
    m_command1 =
        placeControl(new QPushButton(u"..."_s, this), u"Command1"_s, u"..."_s, 5760, 240, 255, 255);
    m_command2 =
        placeControl(new QPushButton(u"..."_s, this), u"Command2"_s, u"..."_s, 5760, 600, 255, 255);
    m_command3 =
        placeControl(new QPushButton(u"..."_s, this), u"Command3"_s, u"..."_s, 5760, 960, 255, 255);
    m_label4 =
        placeControl(new QLabel(caption4, this), u"Label4"_s, caption4, 240, 1800, 2175, 255);
    m_label5 =
        placeControl(new QLabel(caption5, this), u"Label5"_s, caption5, 240, 2280, 2295, 255);
    for (int i = 0; i < 4; ++i) {
        const QString caption = u"Цвет %1"_s.arg(i + 1);
        m_check[i] = placeControl(new QCheckBox(caption, this), u"Check%1"_s.arg(i + 1), caption,
                                  2640 + 840 * i, 2280, 855, 255);
    }
    m_command4 = placeControl(new QPushButton(u"Установить машину"_s, this), u"Command4"_s,
                              u"Установить машину"_s, 1440, 2760, 3495, 495);

    // The font is fitted before the car list is made: a font change makes a combo box build
    // its drop-down list at once, which it otherwise leaves until the list is first opened.
    fitCaptionFont(this);
    m_combo1 = placeControl(new QComboBox(this), u"Combo1"_s, caption4, 2640, 1800, 3375, 315);

    // The line runs on past the right edge of the window.
    m_line1 = new QFrame(this);
    m_line1->setObjectName(u"Line1"_s);
    m_line1->setFrameShape(QFrame::HLine);
    m_line1->setFrameShadow(QFrame::Sunken);
    const QRect line = twipsToPixels(this, 120, 1440, 6840 - 120, 0);
    m_line1->setGeometry(line.left(), line.top() - 1, line.width(), 2);

    m_label1->setBuddy(m_text1);
    m_label2->setBuddy(m_text2);
    m_label3->setBuddy(m_text3);
    m_label4->setBuddy(m_combo1);
    m_command1->setAccessibleDescription(caption1);
    m_command2->setAccessibleDescription(caption2);
    m_command3->setAccessibleDescription(caption3);

    const QList<QWidget *> tabOrder = {m_text1,    m_text2,    m_text3,    m_command1,
                                       m_command2, m_command3, m_combo1,   m_check[0],
                                       m_check[1], m_check[2], m_check[3], m_command4};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    const QRect client = twipsToPixels(this, 0, 0, 6120, 3450);
    setFixedSize(client.size());

    // A car's archive dropped anywhere fills the model and Maps fields; a field takes any
    // other file or folder dropped on it as its path.
    setAcceptDrops(true);
    acceptPathDrops({m_text1, m_text2, m_text3}, m_host.style, [this](const QString &path) {
        if (!archives::isArchiveName(lastComponent(path)))
            return false;
        openGiven(path);
        return true;
    });
    connect(m_combo1, &QComboBox::activated, this, &Form1::showColourBoxes);
    connect(m_command1, &QPushButton::clicked, this, &Form1::chooseGameFolder);
    connect(m_command2, &QPushButton::clicked, this, &Form1::chooseModelFile);
    connect(m_command3, &QPushButton::clicked, this, &Form1::chooseMapsFolder);
    connect(m_command4, &QPushButton::clicked, this, &Form1::installClicked);
}

Form1::~Form1()
{
    // An install still running is waited for before the window goes.
    m_progress.reset();
    m_install.reset();
}

void Form1::loadCarList(const QString &carListFile)
{
    m_combo1->clear();
    m_cars.clear();
    m_cars = readCarList(m_files, carListFile, m_host);
    // The names go into the list in one step: item k is car k's name, in file order. A plain
    // list model holds them as they are, where the combo box's own model makes an item
    // object for each.
    QStringList names;
    names.reserve(m_cars.size());
    for (const Car &car : std::as_const(m_cars))
        names.append(car.name);
    m_combo1->setModel(new QStringListModel(names, m_combo1));
    m_combo1->setCurrentIndex(-1);
}

QString Form1::gameFolder() const
{
    return m_text1->text();
}

QString Form1::modelFile() const
{
    return m_text2->text();
}

QString Form1::mapsFolder() const
{
    return m_text3->text();
}

int Form1::chosenCar() const
{
    return m_combo1->currentIndex();
}

int Form1::colourBoxValue(int box) const
{
    return m_check[box - 1]->isChecked() ? 1 : 0;
}

void Form1::showColourBoxes()
{
    reportErrors([this] {
        const int index = m_combo1->currentIndex();
        if (index == -1)
            return;
        // A car shows one box per colour; counts outside 1 to 4 leave the boxes alone.
        const int boxes = colourUse(m_cars.at(index)).boxes;
        if (boxes == 0)
            return;
        for (int box = 0; box < 4; ++box) {
            const bool shown = box < boxes;
            m_check[box]->setVisible(shown);
            if (!shown)
                m_check[box]->setChecked(false);
        }
    });
}

void Form1::chooseGameFolder()
{
    showFolderPicker(m_label1, m_text1);
}

void Form1::chooseMapsFolder()
{
    showFolderPicker(m_label3, m_text3);
}

void Form1::showFolderPicker(QLabel *label, QLineEdit *field)
{
    reportErrors([&] {
        if (!m_form2) {
            m_form2 = new Form2(*this, m_files, m_host);
            // The open picker fills the field of the row whose button was pressed last.
            connect(m_form2, &Form2::folderChosen, this, [this](const QString &folder) {
                m_pickerField->setText(runtime::shownPath(folder, m_host.style));
            });
        }
        m_form2->show();
        m_form2->raise();
        m_form2->activateWindow();
        m_form2->setFieldCaption(label->text());
        m_pickerField = field;
    });
}

void Form1::chooseModelFile()
{
    reportErrors([this] {
        // A cancelled dialog leaves the typed path alone.
        const std::optional<QString> file = runtime::openFileDialog(
            u"Файлы 3D обьектов Ортаны(*.4ds);;"_s + messages::ArchiveFilter);
        if (file && archives::isArchiveName(lastComponent(*file)))
            openGiven(runtime::shownPath(*file, m_host.style));
        else if (file)
            m_text2->setText(runtime::shownPath(*file, m_host.style));
    });
}

void Form1::openGiven(const QString &path)
{
    m_toOpen.append(path);
    if (!m_opening)
        openNext();
}

void Form1::openNext()
{
    if (m_toOpen.isEmpty())
        return;
    // Archives are read and folders listed away from the window: either may be on a slow
    // disk or a share.
    auto look = [path = m_toOpen.first(), &files = m_files, host = m_host] {
        Opened opened{path, whatIsGiven(path, files, host), {}};
        if (opened.given == Given::Archive)
            opened.car = openCarArchive(path, files, host);
        return opened;
    };
    m_opening = runtime::runAsync(this, std::move(look), [this](const Opened &result) {
        m_opening.reset();
        m_toOpen.removeFirst();
        fillFrom(result);
        emit opened();
        openNext();
    });
}

void Form1::fillFrom(const Opened &opened)
{
    const QString shown = runtime::shownPath(opened.path, m_host.style);
    switch (opened.given) {
    case Given::Archive:
        fillFromArchive(opened.car);
        break;
    case Given::Model:
        m_text2->setText(shown);
        break;
    case Given::GameFolder:
        m_text1->setText(shown);
        break;
    case Given::Nothing:
        break;
    }
}

void Form1::fillFromArchive(const ArchiveCar &car)
{
    if (car.error) {
        runtime::MsgBox(messages::describe(*car.error), runtime::vbCritical, messages::ErrorTitle);
        return;
    }
    if (car.models.isEmpty()) {
        runtime::MsgBox(messages::noModelIn(runtime::shownPath(car.archive, m_host.style)),
                        runtime::vbCritical, messages::ErrorTitle);
        return;
    }
    int model = 0;
    if (car.models.size() > 1) {
        QStringList names;
        for (int i = 0; i < car.models.size(); ++i)
            names.append(runtime::shownPath(car.modelName(i), m_host.style));
        const std::optional<int> chosen =
            runtime::ChooseFromList(messages::ChooseModel, names, messages::ChooseModelTitle);
        if (!chosen)
            return; // cancelled: the fields stay as they were
        model = *chosen;
    }
    const QStringList &components = car.members[car.models[model]].components;
    m_text2->setText(car.path(components, m_host));
    const std::optional<QStringList> maps = mapsNear(car.members, components);
    m_text3->setText(maps ? car.path(*maps, m_host) : QString());
}

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    if (!m_install && droppedPath(event->mimeData()->urls(), m_host.style))
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    const std::optional<QString> path = droppedPath(event->mimeData()->urls(), m_host.style);
    if (!path || m_install)
        return;
    event->acceptProposedAction();
    openGiven(*path);
}

void Form1::installClicked()
{
    // A press while an install runs (or its closing message is shown) starts nothing.
    if (m_install)
        return;
    InstallRequest request{gameFolder(), modelFile(), mapsFolder(), std::nullopt, {}};
    if (const int car = chosenCar(); car != -1)
        request.car = m_cars.at(car);
    for (int box = 1; box <= 4; ++box)
        request.colourBoxes[box - 1] = colourBoxValue(box);
    // Recorded in the program's data folder, to be undone.
    m_install = std::make_unique<InstallRun>(
        request, m_files, m_host, records::Store(m_files, m_host.dataFolder, m_host.user));
    m_progress = std::make_unique<InstallProgressDialog>(this);
    connect(m_install.get(), &InstallRun::copying, m_progress.get(),
            &InstallProgressDialog::copying);
    connect(m_install.get(), &InstallRun::writingOut, m_progress.get(),
            &InstallProgressDialog::writingOut);
    connect(m_install.get(), &InstallRun::finished, this, &Form1::installFinished,
            Qt::QueuedConnection);
    // The player's input is held back from the windows until the install has ended, also
    // before the progress window shows.
    qApp->installEventFilter(this);
    m_install->start();
}

void Form1::installFinished()
{
    const InstallOutcome outcome = m_install->outcome();
    m_progress.reset(); // the closing message stands alone
    qApp->removeEventFilter(this);
    m_text3->setText(runtime::shownPath(outcome.mapsFolder, m_host.style));
    const ClosingMessage message = closingMessage(outcome);
    runtime::MsgBox(message.text, message.style, message.title);
    m_install.reset();
    if (m_closeRequested)
        close();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        break;
    default:
        return false;
    }
    // Only the progress window takes input while the install runs.
    const auto *widget = qobject_cast<QWidget *>(watched);
    const QWidget *progress = m_progress ? m_progress->dialog() : nullptr;
    return widget && !(progress && widget->window() == progress);
}

void Form1::closeEvent(QCloseEvent *event)
{
    // An install is not broken off: it runs to its end and shows its outcome, and the
    // window closes after that.
    if (m_install) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    // The picker writes into this window, so it cannot outlive it.
    if (m_form2)
        m_form2->close();
    event->accept();
}
