// SPDX-License-Identifier: GPL-3.0-or-later
#include "archivewriter.h"
#include "forms/form1.h"
#include "installfixture.h"
#include "widgetsupport.h"

#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <memory>

using namespace Qt::StringLiterals;

// What the main window takes from a file handed to it: dropped, chosen in its dialog, or
// named on the command line.
class TestOpenGiven : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempTree> m_tree;
    TestFileSystem m_files;
    std::unique_ptr<Form1> m_form;

    QWidget *control(const QString &name)
    {
        return m_form->findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
    }
    void type(const QString &field, const QString &text)
    {
        auto *edit = static_cast<QLineEdit *>(control(field));
        edit->clear();
        typeText(edit, text);
    }

private slots:
    void init()
    {
        m_tree = std::make_unique<TempTree>();
        const QByteArray tree = m_tree->root;
        m_form = std::make_unique<Form1>(m_files, runtime::HostPaths{tree + "/prefix", tree, {}});
        m_form->loadCarList(m_tree->file(u"cars.txt"_s, "Wren,wren,2\n"));
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    void cleanup()
    {
        m_form.reset();
        m_tree.reset();
    }

    // A car's archive dropped anywhere on the window, chosen in the model's dialog or named
    // on the command line fills the model and Maps fields; a model file, the model field; the
    // game's folder, the game field. Anything else changes nothing.
    void openGiven_data()
    {
        QTest::addColumn<QString>("gesture"); // window, Text1 (a drop there), dialog, given
        QTest::addColumn<QString>("given");
        QTest::addColumn<int>("choice");         // from the list of models; -1: cancelled
        QTest::addColumn<QStringList>("fields"); // after; "typed" before; "" for empty
        QTest::addColumn<QStringList>("offered");
        QTest::addColumn<QString>("message"); // its start; "": none
        const QString typed = u"typed"_s;
        const QStringList one{typed, u"one.zip/Wren Arrow/wren.4ds"_s,
                              u"one.zip/Wren Arrow/Maps"_s};
        QTest::newRow("dropped on the window")
            << u"window"_s << u"one.zip"_s << 0 << one << QStringList() << QString();
        QTest::newRow("dropped on the game field")
            << u"Text1"_s << u"one.zip"_s << 0 << one << QStringList() << QString();
        const QStringList both{u"Wren Arrow/wren.4ds"_s, u"Wren Arrow Sport/sport.4ds"_s};
        QTest::newRow("chosen, the second of two")
            << u"dialog"_s << u"two.7z"_s << 1
            << QStringList{typed, u"two.7z/Wren Arrow Sport/sport.4ds"_s,
                           u"two.7z/Wren Arrow Sport/MAPS"_s}
            << both << QString();
        QTest::newRow("no textures")
            << u"given"_s << u"bare.zip"_s << 0
            << QStringList{typed, u"bare.zip/wren.4ds"_s, QString()} << QStringList() << QString();
        const QStringList unchanged{typed, typed, typed};
        QTest::newRow("list cancelled")
            << u"given"_s << u"two.7z"_s << -1 << unchanged << both << QString();
        QTest::newRow("no model") << u"given"_s << u"none.zip"_s << 0 << unchanged << QStringList()
                                  << u"«%1»: в архиве нет 3D файла"_s;
        QTest::newRow("no archive") << u"window"_s << u"bad.zip"_s << 0 << unchanged
                                    << QStringList() << u"«%1»: это не архив"_s;
        QTest::newRow("model") << u"window"_s << u"new/car.4ds"_s << 0
                               << QStringList{typed, u"new/car.4ds"_s, typed} << QStringList()
                               << QString();
        QTest::newRow("game folder")
            << u"given"_s << u"Game"_s << 0 << QStringList{u"Game"_s, typed, typed} << QStringList()
            << QString();
        QTest::newRow("other folder")
            << u"window"_s << u"new"_s << 0 << unchanged << QStringList() << QString();
        QTest::newRow("other file")
            << u"given"_s << u"new/notes.txt"_s << 0 << unchanged << QStringList() << QString();
    }
    void openGiven()
    {
        QFETCH(QString, gesture);
        QFETCH(QString, given);
        QFETCH(int, choice);
        QFETCH(QStringList, fields);
        QFETCH(QStringList, offered);
        QFETCH(QString, message);
        using testarchive::Entry;
        const auto write = [&](const char *name, const char *format, const QList<Entry> &entries) {
            QVERIFY(testarchive::write(m_tree->hostPath(name), format, entries));
        };
        write("one.zip", "zip", {{"Wren Arrow/wren.4ds", "m"}, {"Wren Arrow/Maps/a.bmp", "a"}});
        write("two.7z", "7zip",
              {{"Wren Arrow/wren.4ds", "m"},
               {"Wren Arrow/Maps/a.bmp", "a"},
               {"Wren Arrow Sport/sport.4ds", "s"},
               {"Wren Arrow Sport/MAPS/b.tga", "b"}});
        write("bare.zip", "zip", {{"wren.4ds", "m"}, {"readme.txt", "r"}});
        write("none.zip", "zip", {{"readme.txt", "r"}});
        m_tree->file(u"bad.zip"_s, "no archive");
        m_tree->file(u"Game/A0.DTA"_s);
        m_tree->file(u"new/car.4ds"_s);
        m_tree->file(u"new/notes.txt"_s);
        const auto shown = [&](const QString &relative) {
            return relative.isEmpty() || relative == u"typed"_s
                       ? relative
                       : runtime::shownPath(m_tree->path(relative), runtime::hostPathStyle());
        };
        for (const char *field : {"Text1", "Text2", "Text3"})
            type(QLatin1String(field), u"typed"_s);
        RecordingMessageBox boxes;
        boxes.choice = choice >= 0 ? std::optional(choice) : std::nullopt;
        PresetFileDialog dialog;
        dialog.answer = m_tree->path(given);
        QSignalSpy opened(m_form.get(), &Form1::opened);

        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(m_tree->path(given))});
        const Qt::DropActions actions = Qt::CopyAction;
        QWidget *target = gesture == u"Text1"_s ? control(gesture) : m_form.get();
        QDropEvent drop(QPointF(2, 2), actions, &mime, Qt::LeftButton, {});
        if (gesture == u"dialog"_s)
            QTest::mouseClick(control(u"Command2"_s), Qt::LeftButton);
        else if (gesture == u"given"_s)
            m_form->openGiven(m_tree->path(given));
        else {
            QDragEnterEvent enter(QPoint(2, 2), actions, &mime, Qt::LeftButton, {});
            QApplication::sendEvent(target, &enter);
            QVERIFY(enter.isAccepted());
            QApplication::sendEvent(target, &drop);
        }
        QVERIFY(opened.wait());

        QCOMPARE(m_form->gameFolder(), shown(fields[0]));
        QCOMPARE(m_form->modelFile(), shown(fields[1]));
        QCOMPARE(m_form->mapsFolder(), shown(fields[2]));
        QStringList offeredShown;
        for (const QString &name : std::as_const(offered))
            offeredShown.append(runtime::shownPath(name, runtime::hostPathStyle()));
        QCOMPARE(boxes.offered, offeredShown);
        const auto errors = std::count_if(boxes.shown.cbegin(), boxes.shown.cend(),
                                          [](const auto &box) { return box.style >= 0; });
        QCOMPARE(errors, message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QVERIFY2(boxes.shown.last().text.startsWith(message.arg(
                         runtime::shownPath(m_tree->path(given), runtime::hostPathStyle()))),
                     qPrintable(boxes.shown.last().text));
            QCOMPARE(boxes.shown.last().title, u"Ошибка"_s);
        }
    }
};

QTEST_MAIN(TestOpenGiven)
#include "tst_opengiven.moc"
