// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/form1.h"
#include "forms/formsupport.h"
#include "installfixture.h"
#include "widgetsupport.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QStyle>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Cars in file order: index 0 to 5, with colour counts 4, 1, 2, 3, 0 and 5.
const QByteArray CarFile = "\"Wren Arrow, coupe\",wrenarrow,4\n"
                           "One,one,1\n"
                           "Two,two,2\n"
                           "Three,three,3\n"
                           "Zero,zero,0\n"
                           "Five,five,5\n";

// A bit mask over the four colour boxes: bit 0 is Check1.
int mask(const std::function<bool(int)> &test)
{
    int bits = 0;
    for (int box = 0; box < 4; ++box)
        bits |= test(box) ? 1 << box : 0;
    return bits;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempTree> m_tree;
    TestFileSystem m_files;
    std::unique_ptr<Form1> m_form;

    template <typename W = QWidget> W *control(const QString &name)
    {
        W *w = m_form->findChild<W *>(name, Qt::FindDirectChildrenOnly);
        if (!w)
            qFatal("no control %s", qPrintable(name));
        return w;
    }
    QCheckBox *check(int box) { return control<QCheckBox>(u"Check%1"_s.arg(box + 1)); }
    int visibleBoxes()
    {
        return mask([this](int box) { return !check(box)->isHidden(); });
    }
    int tickedBoxes()
    {
        return mask([this](int box) { return check(box)->isChecked(); });
    }

    void chooseCar(int index) { chooseItem(control<QComboBox>(u"Combo1"_s), index); }

    void type(const QString &field, const QString &text)
    {
        auto *edit = control<QLineEdit>(field);
        edit->clear();
        typeText(edit, text);
    }

    // The window for a player who writes paths in `style`.
    void showForm(runtime::PathStyle style)
    {
        const QByteArray tree = m_tree->root;
        runtime::HostPaths host{tree + "/prefix", tree, {}};
        host.style = style;
        m_form = std::make_unique<Form1>(m_files, host);
        m_form->loadCarList(m_tree->file(u"cars.txt"_s, CarFile));
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

private slots:
    void init()
    {
        m_tree = std::make_unique<TempTree>();
        m_files.before = nullptr;
        m_files.log.clear();
        showForm(runtime::hostPathStyle());
    }

    void cleanup()
    {
        m_form.reset();
        m_tree.reset();
    }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("accessibleName");
        QTest::addColumn<QRect>("twips");
        auto row = [](const char *name, const QString &caption, const QString &accessible, int l,
                      int t, int w, int h) {
            QTest::newRow(name) << QString::fromLatin1(name) << caption << accessible
                                << QRect(l, t, w, h);
        };
        row("Label1", u"Папка с игрой:"_s, u"Папка с игрой:"_s, 240, 240, 2055, 255);
        row("Label2", u"3D файл машины(*.4ds):"_s, u"3D файл машины(*.4ds):"_s, 240, 600, 2415,
            255);
        row("Label3", u"Папка Maps машины:"_s, u"Папка Maps машины:"_s, 240, 960, 2295, 255);
        row("Text1", {}, u"Папка с игрой:"_s, 2640, 240, 3015, 285);
        row("Text2", {}, u"3D файл машины(*.4ds):"_s, 2640, 600, 3015, 285);
        row("Text3", {}, u"Папка Maps машины:"_s, 2640, 960, 3015, 285);
        row("Command1", u"..."_s, u"..."_s, 5760, 240, 255, 255);
        row("Command2", u"..."_s, u"..."_s, 5760, 600, 255, 255);
        row("Command3", u"..."_s, u"..."_s, 5760, 960, 255, 255);
        row("Combo1", {}, u"Машина для замены:"_s, 2640, 1800, 3375, 315);
        row("Label4", u"Машина для замены:"_s, u"Машина для замены:"_s, 240, 1800, 2175, 255);
        row("Label5", u"Цвета машины для замены:"_s, u"Цвета машины для замены:"_s, 240, 2280, 2295,
            255);
        row("Check1", u"Цвет 1"_s, u"Цвет 1"_s, 2640, 2280, 855, 255);
        row("Check2", u"Цвет 2"_s, u"Цвет 2"_s, 3480, 2280, 855, 255);
        row("Check3", u"Цвет 3"_s, u"Цвет 3"_s, 4320, 2280, 855, 255);
        row("Check4", u"Цвет 4"_s, u"Цвет 4"_s, 5160, 2280, 855, 255);
        row("Command4", u"Установить машину"_s, u"Установить машину"_s, 1440, 2760, 3495, 495);
    }
    // At 96 dpi 15 twips make a pixel; every caption shows whole in the windows' font.
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, accessibleName);
        QFETCH(QRect, twips);
        QCOMPARE(m_form->logicalDpiX(), 96);
        QCOMPARE(m_form->logicalDpiY(), 96);

        QWidget *w = control(name);
        QCOMPARE(w->geometry(),
                 QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
        QCOMPARE(w->accessibleName(), accessibleName);
        if (auto *label = qobject_cast<QLabel *>(w))
            QCOMPARE(label->text(), caption);
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            QCOMPARE(button->text(), caption);
        if (caption.isEmpty())
            return;

        const QFontMetrics metrics(w->font());
        int room = w->width();
        if (qobject_cast<QCheckBox *>(w))
            room -= w->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                    w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        QVERIFY2(metrics.horizontalAdvance(caption) <= room,
                 qPrintable(u"%1 needs %2 px, has %3"_s.arg(caption)
                                .arg(metrics.horizontalAdvance(caption))
                                .arg(room)));
        QVERIFY(metrics.height() <= w->height());
        QCOMPARE(w->font(), m_form->font());
    }

    void window()
    {
        QCOMPARE(m_form->windowTitle(), u"Quillmere    by dunhallow"_s);
        // Run at a desktop's scale, Qt's or the system's (given by the run), the window is
        // drawn that much larger, its layout the same.
        QCOMPARE(m_form->devicePixelRatio(),
                 qEnvironmentVariable("QT_SCALE_FACTOR", u"1"_s).toDouble() *
                     qEnvironmentVariable("QUILLMERE_DESKTOP_SCALE", u"1"_s).toDouble());
        QCOMPARE(m_form->size(), QSize(6120 / 15, 3450 / 15));
        QCOMPARE(m_form->minimumSize(), m_form->size());
        QCOMPARE(m_form->maximumSize(), m_form->size());
        QCOMPARE(tabOrder(control(u"Text1"_s)),
                 QStringList({u"Text1"_s, u"Text2"_s, u"Text3"_s, u"Command1"_s, u"Command2"_s,
                              u"Command3"_s, u"Combo1"_s, u"Check1"_s, u"Check2"_s, u"Check3"_s,
                              u"Check4"_s, u"Command4"_s}));

        // The separator runs from 120 twips to past the right edge, 1440 twips down.
        const QRect line = control(u"Line1"_s)->geometry();
        QCOMPARE(line.left(), 120 / 15);
        QVERIFY(line.right() >= m_form->width() - 1);
        QVERIFY(line.top() <= 1440 / 15 && line.bottom() >= 1440 / 15 - 1);
    }

    void startState()
    {
        auto *combo = control<QComboBox>(u"Combo1"_s);
        QVERIFY(!combo->isEditable());
        QStringList names;
        for (int i = 0; i < combo->count(); ++i)
            names.append(combo->itemText(i));
        QCOMPARE(names, QStringList({u"Wren Arrow, coupe"_s, u"One"_s, u"Two"_s, u"Three"_s,
                                     u"Zero"_s, u"Five"_s}));
        QCOMPARE(m_form->chosenCar(), -1);
        QCOMPARE(visibleBoxes(), 0b1111);
        QCOMPARE(tickedBoxes(), 0);
        QVERIFY(m_form->gameFolder().isEmpty() && m_form->modelFile().isEmpty() &&
                m_form->mapsFolder().isEmpty());
    }

    // A desktop font that comes to one without Cyrillic letters gives way to the first family
    // named that has them; any other is kept.
    void windowFontWritesRussian_data()
    {
        QTest::addColumn<QString>("general");
        QTest::addColumn<QStringList>("families");
        QTest::addColumn<QString>("chosen");
        const QString math = u"DejaVu Math TeX Gyre"_s, sans = u"DejaVu Sans"_s,
                      serif = u"DejaVu Serif"_s;
        QTest::newRow("general writes Russian") << sans << QStringList{serif} << sans;
        QTest::newRow("general cannot")
            << math << QStringList{u"No Such Font"_s, math, serif, sans} << serif;
        QTest::newRow("none can") << math << QStringList{math, u"No Such Font"_s} << math;
    }
    void windowFontWritesRussian()
    {
        QFETCH(QString, general);
        QFETCH(QStringList, families);
        QFETCH(QString, chosen);
        QVERIFY2(QFontDatabase::hasFamily(u"DejaVu Math TeX Gyre"_s), "fonts-dejavu-extra");
        QFont desktop(general);
        desktop.setPointSizeF(8.25);
        const QFont font = windowFont(desktop, families);
        QCOMPARE(QFontInfo(font).family(), chosen);
        QCOMPARE(font.pointSizeF(), 8.25);
    }

    // The list that drops down shows the names in the window's font.
    void dropDownFont()
    {
        auto *combo = control<QComboBox>(u"Combo1"_s);
        combo->showPopup();
        QCOMPARE(combo->view()->font(), m_form->font());
        combo->hidePopup();
    }

    void colourBoxes_data()
    {
        QTest::addColumn<int>("firstCar"); // -1: none chosen before
        QTest::addColumn<int>("tick");     // boxes ticked before choosing `car`
        QTest::addColumn<int>("car");
        QTest::addColumn<int>("visible");
        QTest::addColumn<int>("ticked");
        QTest::newRow("1 after all ticked") << -1 << 0b1111 << 1 << 0b0001 << 0b0001;
        QTest::newRow("2 after all ticked") << -1 << 0b1111 << 2 << 0b0011 << 0b0011;
        QTest::newRow("3 after all ticked") << -1 << 0b1111 << 3 << 0b0111 << 0b0111;
        QTest::newRow("4 after 1") << 1 << 0b0001 << 0 << 0b1111 << 0b0001;
        QTest::newRow("2 after 3 keeps ticks") << 3 << 0b0110 << 2 << 0b0011 << 0b0010;
        QTest::newRow("0 changes nothing") << 2 << 0b0010 << 4 << 0b0011 << 0b0010;
        QTest::newRow("5 changes nothing") << 2 << 0b0011 << 5 << 0b0011 << 0b0011;
    }
    void colourBoxes()
    {
        QFETCH(int, firstCar);
        QFETCH(int, tick);
        QFETCH(int, car);
        QFETCH(int, visible);
        QFETCH(int, ticked);
        if (firstCar >= 0)
            chooseCar(firstCar);
        for (int box = 0; box < 4; ++box) {
            if (tick & (1 << box)) {
                QVERIFY(!check(box)->isHidden());
                QTest::mouseClick(check(box), Qt::LeftButton);
            }
        }
        QCOMPARE(tickedBoxes(), tick);
        chooseCar(car);
        QCOMPARE(m_form->chosenCar(), car);
        QCOMPARE(visibleBoxes(), visible);
        QCOMPARE(tickedBoxes(), ticked);
    }

    void modelFileDialog_data()
    {
        QTest::addColumn<bool>("fail");
        QTest::addColumn<QString>("answer"); // "": the user cancels
        QTest::addColumn<QString>("text2");
        QTest::addColumn<QString>("message");
        // Written as the system writes paths: "C:\\work\\car.4ds" on Windows.
        QTest::newRow("chosen") << false << u"/games/cars/новая.4ds"_s
                                << QDir::toNativeSeparators(u"/games/cars/новая.4ds"_s)
                                << QString();
        QTest::newRow("chosen on a drive")
            << false << u"C:/work/car.4ds"_s << QDir::toNativeSeparators(u"C:/work/car.4ds"_s)
            << QString();
        QTest::newRow("cancelled") << false << QString() << u"typed\\car.4ds"_s << QString();
        QTest::newRow("failed") << true << QString() << u"typed\\car.4ds"_s
                                << u"Окно выбора файла недоступно"_s;
    }
    void modelFileDialog()
    {
        QFETCH(bool, fail);
        QFETCH(QString, answer);
        QFETCH(QString, text2);
        QFETCH(QString, message);
        PresetFileDialog dialog;
        RecordingMessageBox boxes;
        dialog.fail = fail;
        if (!answer.isEmpty())
            dialog.answer = answer;
        type(u"Text2"_s, u"typed\\car.4ds"_s);

        QTest::mouseClick(control(u"Command2"_s), Qt::LeftButton);
        QCOMPARE(dialog.filters, QStringList{u"Файлы 3D обьектов Ортаны(*.4ds);;"
                                             u"Архивы с машиной (*.zip;*.7z;*.rar)"_s});
        QCOMPARE(m_form->modelFile(), text2);
        if (message.isEmpty()) {
            QVERIFY(boxes.shown.isEmpty());
        } else {
            QCOMPARE(boxes.shown.size(), 1);
            QCOMPARE(boxes.shown[0].text, message);
            QCOMPARE(boxes.shown[0].style, int(runtime::vbCritical));
            QCOMPARE(boxes.shown[0].title, u"Ошибка"_s);
        }
    }

    // A file or folder dropped from a file manager puts its local path into the field; text
    // without URLs is inserted as typed text is.
    void dropOnPathField_data()
    {
        QTest::addColumn<bool>("windows"); // the player writes paths in Windows' style
        QTest::addColumn<QString>("field");
        QTest::addColumn<QByteArray>("uriList"); // "": no URLs
        QTest::addColumn<QString>("text");       // "": no text
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("after"); // the field held "typed" before
        QTest::newRow("local file")
            << false << u"Text2"_s << QByteArray("file:///home/player/roadster/roadster.4ds\r\n")
            << u"file:///home/player/roadster/roadster.4ds"_s << true
            << u"/home/player/roadster/roadster.4ds"_s;
        QTest::newRow("local folder")
            << false << u"Text1"_s << QByteArray("file:///srv/Games/Ortana\r\n") << QString()
            << true << u"/srv/Games/Ortana"_s;
        QTest::newRow("several: the first")
            << false << u"Text3"_s << QByteArray("file:///a/Maps\r\nfile:///b/Maps\r\n")
            << QString() << true << u"/a/Maps"_s;
        QTest::newRow("localhost")
            << false << u"Text3"_s << QByteArray("file://localhost/a/Maps\r\n") << QString() << true
            << u"/a/Maps"_s;
        QTest::newRow("percent-encoded name")
            << false << u"Text2"_s
            << QByteArray("file:///home/%D0%9D%D0%BE%D0%B2%D0%B0%D1%8F%20100%25.4ds\r\n")
            << QString() << true << u"/home/Новая 100%.4ds"_s;
        // Bytes that are no UTF-8 stand for themselves, as in every other name.
        QTest::newRow("name not UTF-8")
            << false << u"Text2"_s << QByteArray("file:///home/%EC%EE%E4%E5%EB%FC.4ds") << QString()
            << true << QString::fromUtf16(u"/home/\xDCEC\xDCEE\xDCE4\xDCE5\xDCEB\xDCFC.4ds");
        QTest::newRow("remote, with its text")
            << false << u"Text1"_s << QByteArray("sftp://server/srv/Games/Ortana\r\n")
            << u"sftp://server/srv/Games/Ortana"_s << false << u"typed"_s;
        QTest::newRow("remote first, local second")
            << false << u"Text2"_s
            << QByteArray("http://example.org/car.4ds\r\nfile:///home/car.4ds\r\n") << QString()
            << false << u"typed"_s;
        QTest::newRow("file of another machine")
            << false << u"Text3"_s << QByteArray("file://server/share/Maps\r\n") << QString()
            << false << u"typed"_s;
        QTest::newRow("plain text")
            << false << u"Text1"_s << QByteArray() << u"/Ortana"_s << true << u"typed/Ortana"_s;
        // Explorer's URLs: a drive's file and a share's, Cyrillic names percent-encoded or
        // not, the names' dots and spaces at their ends kept.
        QTest::newRow("drive, Windows")
            << true << u"Text1"_s << QByteArray("file:///C:/Games/Ortana\r\n") << QString() << true
            << u"C:\\Games\\Ortana"_s;
        QTest::newRow("drive's root, Windows")
            << true << u"Text1"_s << QByteArray("file:///d:/\r\n") << QString() << true
            << u"d:\\"_s;
        QTest::newRow("drive, percent-encoded, Windows")
            << true << u"Text2"_s
            << QByteArray("file:///D:/%D0%9C%D0%B0%D1%88%D0%B8%D0%BD%D1%8B/%D0%9D%D0%BE%D0%B2%D0%B0"
                          "%D1%8F%20100%25.4ds\r\n")
            << QString() << true << u"D:\\Машины\\Новая 100%.4ds"_s;
        QTest::newRow("localhost, Windows")
            << true << u"Text3"_s << QByteArray("file://localhost/C:/a/Maps\r\n") << QString()
            << true << u"C:\\a\\Maps"_s;
        QTest::newRow("share, Windows")
            << true << u"Text3"_s << QByteArray("file://server/share/Maps\r\n") << QString() << true
            << u"\\\\server\\share\\Maps"_s;
        QTest::newRow("share, Cyrillic, Windows")
            << true << u"Text1"_s << QByteArray("file://nas/Игры/Ortana. /car%20.4ds\r\n")
            << QString() << true << u"\\\\nas\\Игры\\Ortana. \\car .4ds"_s;
        QTest::newRow("share, percent-encoded, Windows")
            << true << u"Text1"_s << QByteArray("file://nas/%D0%98%D0%B3%D1%80%D1%8B/Ortana\r\n")
            << QString() << true << u"\\\\nas\\Игры\\Ortana"_s;
        QTest::newRow("remote, Windows")
            << true << u"Text1"_s << QByteArray("sftp://server/srv/Games/Ortana\r\n")
            << u"sftp://server/srv/Games/Ortana"_s << false << u"typed"_s;
    }
    void dropOnPathField()
    {
        QFETCH(bool, windows);
        const auto style = windows ? runtime::PathStyle::Windows : runtime::PathStyle::Posix;
        if (style != runtime::hostPathStyle())
            showForm(style);
        QFETCH(QString, field);
        QFETCH(QByteArray, uriList);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(QString, after);
        auto *edit = control<QLineEdit>(field);
        type(field, u"typed"_s);
        QMimeData mime;
        if (!uriList.isEmpty())
            mime.setData(u"text/uri-list"_s, uriList);
        if (!text.isEmpty())
            mime.setText(text);

        // Dragged in and dropped at the end of the field's text.
        const QPoint end(edit->width() - 2, edit->height() / 2);
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(end, actions, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(edit, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QDragMoveEvent move(end, actions, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(edit, &move);
        QCOMPARE(move.isAccepted(), accepted);
        QDropEvent drop(end, actions, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(edit, &drop);
        QCOMPARE(drop.isAccepted(), accepted);
        QCOMPARE(edit->text(), after);
    }

    void checksThroughWindow_data()
    {
        QTest::addColumn<QString>("game");
        QTest::addColumn<int>("car");
        QTest::addColumn<int>("tick");
        QTest::addColumn<int>("carAfterTicking"); // -1: none
        QTest::addColumn<QString>("message");
        QTest::newRow("no game folder") << u"new"_s << 2 << 0b0001 << -1 << messages::BadGameFolder;
        QTest::newRow("no car") << u"Game"_s << -1 << 0b0001 << -1 << messages::NoCar;
        QTest::newRow("no colour") << u"Game"_s << 2 << 0 << -1 << messages::NoColour;
        // Choosing a car with fewer colours clears the hidden box the user ticked.
        QTest::newRow("hidden box cleared") << u"Game"_s << 0 << 0b0100 << 2 << messages::NoColour;
    }
    // The inputs typed and chosen in the window reach the checks.
    void checksThroughWindow()
    {
        QFETCH(QString, game);
        QFETCH(int, car);
        QFETCH(int, tick);
        QFETCH(int, carAfterTicking);
        QFETCH(QString, message);
        m_tree->file(u"Game/a0.dta"_s);
        m_tree->file(u"new/car.4ds"_s);
        m_tree->file(u"new/Maps/car.tga"_s);
        const QStringList before = m_tree->entries();
        RecordingMessageBox boxes;

        type(u"Text1"_s, m_tree->path(game));
        type(u"Text2"_s, m_tree->path(u"new/car.4ds"_s));
        type(u"Text3"_s, m_tree->path(u"new/Maps"_s));
        if (car >= 0)
            chooseCar(car);
        for (int box = 0; box < 4; ++box) {
            if (tick & (1 << box))
                QTest::mouseClick(check(box), Qt::LeftButton);
        }
        if (carAfterTicking >= 0)
            chooseCar(carAfterTicking);
        QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);

        QTRY_COMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, message);
        QCOMPARE(boxes.shown[0].title, u"Ошибка"_s);
        // The Maps folder field shows the separator the install added, and the path as the
        // system writes it.
        QCOMPARE(m_form->mapsFolder(),
                 QDir::toNativeSeparators(m_tree->path(u"new/Maps"_s)) + u"\\"_s);
        QCOMPARE(m_tree->entries(), before);
    }

    // The whole job from the window: typed paths, a car, two colours, the install button.
    // The install runs on a thread of its own: while it waits on the disk, its progress
    // reaches the window, the player's input and a second press change nothing, and
    // closing the main window waits for the install and its closing message.
    void wholeInstall()
    {
        m_tree->file(u"Game/a0.dta"_s);
        m_tree->file(u"Game/models/three00.4ds"_s, "stock");
        m_tree->file(u"Game/maps/road.bmp"_s, "road");
        m_tree->file(u"new/Новая машина.4ds"_s, "new model");
        m_tree->file(u"new/Maps/body.bmp"_s, "body");
        m_tree->file(u"new/Maps/glass.tga"_s, "glass");
        RecordingMessageBox boxes;

        type(u"Text1"_s, m_tree->path(u"Game"_s));
        type(u"Text2"_s, m_tree->path(u"new/Новая машина.4ds"_s));
        type(u"Text3"_s, m_tree->path(u"new/Maps"_s));
        chooseCar(3);
        QTest::mouseClick(check(0), Qt::LeftButton);
        QTest::mouseClick(check(2), Qt::LeftButton);
        // The flush of the data waits until the test lets it go.
        QSemaphore flushing, flushed;
        const auto letGo = qScopeGuard([&] { flushed.release(); }); // also when a check fails
        m_files.before = [&](TestFileSystem::Op op, const QByteArray &) {
            if (op == TestFileSystem::FlushFileSystem) {
                flushing.release();
                flushed.acquire();
            }
        };
        QTest::mouseClick(control(u"Command4"_s), Qt::LeftButton);
        QTRY_COMPARE(flushing.available(), 1);

        QTRY_VERIFY(qobject_cast<QProgressDialog *>(QApplication::activeModalWidget()));
        const auto *progress = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
        QTRY_COMPARE(progress->labelText(), u"Запись на диск…"_s);
        QCOMPARE(progress->value(), 6);
        typeText(control<QLineEdit>(u"Text1"_s), u"typed while installing"_s);
        QCOMPARE(m_form->gameFolder(), m_tree->path(u"Game"_s));
        m_form->installClicked();
        m_form->close();
        QVERIFY(m_form->isVisible());
        QVERIFY(boxes.shown.isEmpty());

        flushed.release();
        QTRY_COMPARE(boxes.shown.size(), 1); // one install, one closing message
        QCOMPARE(boxes.shown[0].text, messages::Installed);
        QCOMPARE(boxes.shown[0].style, int(runtime::vbOKOnly));
        QVERIFY(!m_form->isVisible()); // closed once the message was read
        QCOMPARE(m_form->mapsFolder(),
                 QDir::toNativeSeparators(m_tree->path(u"new/Maps"_s)) + u"\\"_s);
        QCOMPARE(m_files.names(TestFileSystem::FlushFileSystem).size(), 1);
        QCOMPARE(m_tree->entries(),
                 QStringList({u"Game"_s, u"Game/a0.dta"_s, u"Game/maps"_s, u"Game/maps/body.bmp"_s,
                              u"Game/maps/glass.tga"_s, u"Game/maps/road.bmp"_s, u"Game/models"_s,
                              u"Game/models/three00.4ds"_s, u"Game/models/three02.4ds"_s,
                              u"Game/models/three10.4ds"_s, u"Game/models/three12.4ds"_s,
                              u"cars.txt"_s, u"new"_s, u"new/Maps"_s, u"new/Maps/body.bmp"_s,
                              u"new/Maps/glass.tga"_s, u"new/Новая машина.4ds"_s}));
        for (const char *model : {"three00", "three10", "three02", "three12"})
            QCOMPARE(m_tree->read(u"Game/models/%1.4ds"_s.arg(QLatin1String(model))), "new model");
        QCOMPARE(m_tree->read(u"Game/maps/body.bmp"_s), "body");
        QCOMPARE(m_tree->read(u"Game/maps/glass.tga"_s), "glass");
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
