// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/dirlistbox.h"
#include "forms/form1.h"
#include "forms/form2.h"
#include "runtime/drives.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "widgetsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <memory>

using namespace Qt::StringLiterals;

// The picker opened from the main window, in a folder tree that is the current folder.
class TestFolderPicker : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempTree> m_tree;
    runtime::HostFileSystem m_files;
    std::unique_ptr<Form1> m_form;

    void showForm(const QString &currentFolder)
    {
        const runtime::HostPaths host{{}, runtime::encodeName(currentFolder), {}};
        m_form = std::make_unique<Form1>(m_files, host);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    Form2 *picker() { return m_form->findChild<Form2 *>(); }
    template <typename W = QWidget> W *control(const QString &name)
    {
        W *w = picker() ? picker()->findChild<W *>(name, Qt::FindDirectChildrenOnly) : nullptr;
        if (!w)
            qFatal("no picker control %s", qPrintable(name));
        return w;
    }
    DirListBox *dir1() { return control<DirListBox>(u"Dir1"_s); }
    QComboBox *drive1() { return control<QComboBox>(u"Drive1"_s); }

    void press(const QString &button)
    {
        QTest::mouseClick(m_form->findChild<QPushButton *>(button), Qt::LeftButton);
    }
    void pressOk()
    {
        QTest::mouseClick(control(u"Command1"_s), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void closeByFrame()
    {
        picker()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QRect itemRect(int row) { return dir1()->visualItemRect(dir1()->item(row)); }
    // Opens the listed subfolder of that name by a double click.
    void open(const QString &name)
    {
        const int row = rowOf(dir1(), name);
        QVERIFY2(row >= 0, qPrintable(name));
        dir1()->scrollToItem(dir1()->item(row));
        doubleClick(dir1()->viewport(), itemRect(row).center());
    }
    QString text(const QString &field) { return m_form->findChild<QLineEdit *>(field)->text(); }

private slots:
    void init()
    {
        m_tree = std::make_unique<TempTree>();
        m_tree->dir(u"Игры/Ortana/maps"_s);
        m_tree->dir(u"Игры/Ortana/models"_s);
        m_tree->dir(u"new/Maps"_s);
        m_tree->file(u"readme.txt"_s);
        showForm(m_tree->path());
    }

    void cleanup()
    {
        m_form.reset();
        m_tree.reset();
    }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("Drive1") << u"Drive1"_s << QRect(240, 600, 2775, 315);
        QTest::newRow("Dir1") << u"Dir1"_s << QRect(240, 960, 2775, 3465);
        QTest::newRow("Label1") << u"Label1"_s << QRect(240, 240, 2775, 255);
        QTest::newRow("Command1") << u"Command1"_s << QRect(240, 4440, 2775, 495);
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        press(u"Command1"_s);
        QCOMPARE(picker()->logicalDpiX(), 96);
        QCOMPARE(control(name)->geometry(),
                 QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    }

    void window()
    {
        press(u"Command1"_s);
        QVERIFY(picker());
        QCOMPARE(picker()->windowTitle(), u"Выбор папки"_s);
        QVERIFY(picker()->isWindow());
        QVERIFY(!picker()->isModal());
        QCOMPARE(picker()->size(), QSize(3300 / 15, 4965 / 15));
        QCOMPARE(picker()->minimumSize(), picker()->size());
        QCOMPARE(picker()->maximumSize(), picker()->size());
        QCOMPARE(tabOrder(drive1()), QStringList({u"Drive1"_s, u"Dir1"_s, u"Command1"_s}));

        // "ОК" in Cyrillic letters, and captions that show whole.
        const auto *ok = control<QPushButton>(u"Command1"_s);
        QCOMPARE(ok->text(), QString::fromUtf16(u"\u041E\u041A"));
        QCOMPARE(ok->accessibleName(), ok->text());
        QVERIFY(QFontMetrics(ok->font()).horizontalAdvance(ok->text()) <= ok->width());
        const auto *label = control<QLabel>(u"Label1"_s);
        QCOMPARE(label->text(), u"Папка с игрой:"_s);
        QVERIFY(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width());
        QCOMPARE(label->font(), m_form->font());
        QCOMPARE(dir1()->accessibleName(), label->text());
        QVERIFY(!drive1()->accessibleName().isEmpty());
    }

    // Both lists start at the current folder the program was given, and its drive.
    void startsAtCurrentFolder()
    {
        press(u"Command3"_s);
        const QString cwd = m_tree->path();
        QCOMPARE(dir1()->Path(), cwd);
        QStringList roots;
        for (int i = 0; i < drive1()->count(); ++i)
            roots.append(drive1()->itemData(i).toString());
        QVERIFY(roots.contains(QDir::rootPath()));
        QCOMPARE(drive1()->currentData().toString(), runtime::driveRootOf(cwd, roots));
        // The drive's root as the system writes it, "C:\\" on Windows, in both lists.
        const QString shownRoot = QDir::toNativeSeparators(drive1()->currentData().toString());
        QVERIFY2(drive1()->currentText().startsWith(shownRoot),
                 qPrintable(drive1()->currentText()));
        QCOMPARE(dir1()->item(0)->text(), shownRoot);

        // The ancestors from the drive's root down, then the subfolders.
        const QStringList texts = itemTexts(dir1());
        const int opened = dir1()->openedRow();
        QCOMPARE(texts.at(opened), QFileInfo(cwd).fileName());
        QCOMPARE(texts.mid(opened + 1), QStringList({u"new"_s, u"Игры"_s}));
        QCOMPARE(dir1()->folderAt(0), drive1()->currentData().toString());
        QCOMPARE(dir1()->currentRow(), opened);
        for (int row = 1; row <= opened; ++row)
            QCOMPARE(dir1()->folderAt(row - 1), QFileInfo(dir1()->folderAt(row)).path());
    }

    // A current folder that was removed is reported, and the picker starts at the root (of the
    // system's drive, on Windows).
    void currentFolderGone()
    {
        const QString gone = m_tree->dir(u"gone"_s);
        QVERIFY(QDir(gone).removeRecursively());
        showForm(gone);
        RecordingMessageBox boxes;
        press(u"Command1"_s);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].title, u"Ошибка"_s);
        QVERIFY(picker()->isVisible());
        QCOMPARE(dir1()->Path(), QDir::rootPath());
        QCOMPARE(drive1()->currentData().toString(), QDir::rootPath());
    }

    void okWritesIntoItsRow_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("otherField");
        QTest::newRow("game folder")
            << u"Command1"_s << u"Папка с игрой:"_s << u"Text1"_s << u"Text3"_s;
        QTest::newRow("Maps folder")
            << u"Command3"_s << u"Папка Maps машины:"_s << u"Text3"_s << u"Text1"_s;
    }
    void okWritesIntoItsRow()
    {
        QFETCH(QString, button);
        QFETCH(QString, caption);
        QFETCH(QString, field);
        QFETCH(QString, otherField);
        typeText(m_form->findChild<QLineEdit *>(field), u"typed"_s);
        typeText(m_form->findChild<QLineEdit *>(otherField), u"other"_s);

        press(button);
        QCOMPARE(control<QLabel>(u"Label1"_s)->text(), caption);
        open(u"Игры"_s);
        open(u"Ortana"_s);
        QCOMPARE(dir1()->Path(), m_tree->path(u"Игры/Ortana"_s));
        pressOk();

        QVERIFY(!picker());
        // Written as the system writes paths: with backslashes on Windows.
        QCOMPARE(text(field), QDir::toNativeSeparators(m_tree->path(u"Игры/Ortana"_s)));
        QCOMPARE(text(otherField), u"other"_s);
    }

    // The other button relabels the open picker, whose OK then fills the other field.
    void relabelledWhileOpen()
    {
        press(u"Command1"_s);
        Form2 *first = picker();
        open(u"new"_s);
        press(u"Command3"_s);
        QCOMPARE(picker(), first);
        QCOMPARE(control<QLabel>(u"Label1"_s)->text(), u"Папка Maps машины:"_s);
        QCOMPARE(dir1()->Path(), m_tree->path(u"new"_s));
        pressOk();
        QCOMPARE(text(u"Text3"_s), QDir::toNativeSeparators(m_tree->path(u"new"_s)));
        QCOMPARE(text(u"Text1"_s), QString());
    }

    // A single click highlights; a double click or Enter opens, also upwards.
    void clickHighlightsEnterOpens()
    {
        press(u"Command1"_s);
        const int row = rowOf(dir1(), u"new"_s);
        QTest::mouseClick(dir1()->viewport(), Qt::LeftButton, {}, itemRect(row).center());
        QCOMPARE(dir1()->currentRow(), row);
        QCOMPARE(dir1()->Path(), m_tree->path());

        QTest::keyClick(dir1(), Qt::Key_Return);
        QCOMPARE(dir1()->Path(), m_tree->path(u"new"_s));
        QCOMPARE(itemTexts(dir1()).mid(dir1()->openedRow()), QStringList({u"new"_s, u"Maps"_s}));

        const int parent = dir1()->openedRow() - 1;
        doubleClick(dir1()->viewport(), itemRect(parent).center());
        QCOMPARE(dir1()->Path(), m_tree->path());
    }

    // Choosing another drive opens its root, which OK writes with a trailing separator: "/"
    // and a mount point alike, a folder below one without. Choosing the drive already shown
    // is no change.
    void chooseDrive_data()
    {
        QTest::addColumn<QString>("start");     // the folder open before
        QTest::addColumn<QString>("drive");     // "<shown>": the drive already shown
        QTest::addColumn<QString>("subfolder"); // opened then, "" for none
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("written");
        const QString root = QDir::rootPath(); // "/", or the system's drive on Windows
        QTest::newRow("root") << u"<tree>/USB/Maps"_s << root << QString() << root << root;
        QTest::newRow("mount point") << u"<tree>/new"_s << u"<tree>/USB"_s << QString()
                                     << u"<tree>/USB"_s << u"<tree>/USB/"_s;
        QTest::newRow("folder on a mount point") << u"<tree>/new"_s << u"<tree>/USB"_s << u"Maps"_s
                                                 << u"<tree>/USB/Maps"_s << u"<tree>/USB/Maps"_s;
        QTest::newRow("the drive of the tree again")
            << u"<tree>/new"_s << u"<shown>"_s << QString() << u"<tree>/new"_s << u"<tree>/new"_s;
        QTest::newRow("the mount point again")
            << u"<tree>/USB/Maps"_s << u"<tree>/USB"_s << QString() << u"<tree>/USB/Maps"_s
            << u"<tree>/USB/Maps"_s;
    }
    void chooseDrive()
    {
        QFETCH(QString, start);
        QFETCH(QString, drive);
        QFETCH(QString, subfolder);
        QFETCH(QString, path);
        QFETCH(QString, written);
        const auto inTree = [this](QString s) {
            return s.replace(u"<tree>"_s, m_tree->path());
        };
        m_tree->dir(u"USB/Maps"_s);
        press(u"Command1"_s);
        // A mount point inside the tree, listed as the picker lists a removable drive.
        QStringList roots{inTree(u"<tree>/USB"_s)};
        for (int i = 0; i < drive1()->count(); ++i)
            roots.append(drive1()->itemData(i).toString());
        drive1()->addItem(u"USB"_s, roots.first());
        dir1()->setDriveRoots(roots);
        dir1()->setPath(inTree(start));
        QCOMPARE(drive1()->currentData().toString(), runtime::driveRootOf(inTree(start), roots));

        const int row =
            drive == u"<shown>"_s ? drive1()->currentIndex() : drive1()->findData(inTree(drive));
        QVERIFY(row >= 0);
        chooseItem(drive1(), row);
        if (!subfolder.isEmpty())
            open(subfolder);
        QCOMPARE(dir1()->Path(), inTree(path));
        QCOMPARE(drive1()->currentData().toString(), runtime::driveRootOf(inTree(path), roots));
        QCOMPARE(dir1()->folderAt(0), drive1()->currentData().toString());
        pressOk();
        QCOMPARE(text(u"Text1"_s), QDir::toNativeSeparators(inTree(written)));
    }

    void closingByFrameWritesNothing()
    {
        typeText(m_form->findChild<QLineEdit *>(u"Text1"_s), u"typed"_s);
        press(u"Command1"_s);
        open(u"new"_s);
        closeByFrame();
        QVERIFY(!picker());
        QCOMPARE(text(u"Text1"_s), u"typed"_s);
        QCOMPARE(text(u"Text3"_s), QString());

        // The next one starts afresh at the current folder.
        press(u"Command3"_s);
        QCOMPARE(dir1()->Path(), m_tree->path());
    }

    void closingMainWindowClosesPicker()
    {
        press(u"Command1"_s);
        QPointer<Form2> open = picker();
        QVERIFY(open->isVisible());
        m_form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!open);
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->windowTitle()));
    }

    // A drive or folder that cannot be read is reported; the picker stays where it was.
    void unreadableFolderReported_data()
    {
        QTest::addColumn<bool>("viaDrive");
        QTest::newRow("drive") << true;
        QTest::newRow("vanished folder") << false;
    }
    void unreadableFolderReported()
    {
        QFETCH(bool, viaDrive);
        press(u"Command1"_s);
        const QString before = dir1()->Path();
        const int driveBefore = drive1()->currentIndex();
        RecordingMessageBox boxes;
        if (viaDrive) {
            drive1()->addItem(u"gone"_s, m_tree->path(u"gone"_s));
            chooseItem(drive1(), drive1()->count() - 1);
        } else {
            QVERIFY(QDir(m_tree->path(u"new"_s)).removeRecursively());
            open(u"new"_s);
        }
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].title, u"Ошибка"_s);
        QCOMPARE(boxes.shown[0].style, int(runtime::vbCritical));
        QVERIFY(boxes.shown[0].text.contains(viaDrive ? u"gone"_s : u"new"_s));
        QCOMPARE(dir1()->Path(), before);
        QCOMPARE(drive1()->currentIndex(), driveBefore);
        // The vanished folder is no longer offered.
        QCOMPARE(rowOf(dir1(), u"new"_s) >= 0, viaDrive);

        pressOk();
        QCOMPARE(text(u"Text1"_s), QDir::toNativeSeparators(before));
    }

    // Started in a folder of a share, \\nas\games, the picker's tree starts at the share's
    // root, and OK writes the share's path.
    void shareFolder()
    {
        const QByteArray share = testhost::makeShare("nas", "games");
        if (share.isEmpty())
            QSKIP("no share of this machine can be made here");
        const auto removeShare = qScopeGuard([&] { host::removeTree(share); });
        host::makeFolders(share + "/Ortana/Maps");
        showForm(u"//nas/games/Ortana"_s);
        press(u"Command3"_s);
        QCOMPARE(dir1()->Path(), u"//nas/games/Ortana"_s);
        QCOMPARE(itemTexts(dir1()), QStringList({u"\\\\nas\\games\\"_s, u"Ortana"_s, u"Maps"_s}));
        QCOMPARE(drive1()->currentIndex(), -1); // no drive of the list holds it
        open(u"Maps"_s);
        pressOk();
        QCOMPARE(text(u"Text3"_s), u"\\\\nas\\games\\Ortana\\Maps"_s);

        // The share's root, which ends in a separator as a drive's does.
        press(u"Command1"_s);
        doubleClick(dir1()->viewport(), itemRect(0).center());
        QCOMPARE(dir1()->Path(), u"//nas/games"_s);
        pressOk();
        QCOMPARE(text(u"Text1"_s), u"\\\\nas\\games\\"_s);
    }
};

QTEST_MAIN(TestFolderPicker)
#include "tst_folderpicker.moc"
