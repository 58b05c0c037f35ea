// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/undowindow.h"
#include "undosupport.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

class TestUndoWindow : public QObject
{
    Q_OBJECT

private slots:
    // Two installs into one game folder show under it, newest first; undoing them all puts
    // the stock files back and leaves nothing recorded, also where a folder above the game
    // folder has a name that no typed path spells. A newer record that cannot be read, of
    // another game folder, is shown and does not stop them; given up, it goes.
    void undoAllPutsTheStockFilesBack()
    {
        Game g;
        if (testhost::posix) {
            g.dir("a\\b");
            QVERIFY(QDir().rename(g.path("Game"), g.path("a\\b/Game")));
            g.host.currentFolder = g.hostPath("a\\b");
            g.request.gameFolder = u"Game"_s;
        }
        const QByteArray gameFolder = g.hostPath(testhost::posix ? "a\\b/Game" : "Game");
        const auto game = [&](const QByteArray &file) {
            return host::read(gameFolder + '/' + file);
        };
        const QStringList stock = host::entries(gameFolder);
        g.tick({1});
        QVERIFY(g.install().installed());
        g.file("new/car.4ds", "newer model");
        zipNew(g); // the second from a zip
        g.tick({2});
        QVERIFY(g.install().installed());
        QCOMPARE(game("models/wren00.4ds"), "newer model");
        QCOMPARE(g.installs().size(), 2);
        const QByteArray damaged = g.hostPath("data/installs/00000009-elsewhere");
        host::write(damaged + "/record.json", R"({"format": 2, "gameHost": "/elsewhere"})");

        UndoWindow window(g.files, g.host);
        window.show();
        auto *list = window.findChild<QTreeWidget *>(u"installs"_s);
        auto *undoAll = window.findChild<QPushButton *>(u"undoAll"_s);
        auto *report = window.findChild<QPlainTextEdit *>(u"report"_s);
        QVERIFY(list && undoAll && report);

        QCOMPARE(list->topLevelItemCount(), 2);
        QVERIFY2(list->topLevelItem(0)->text(0).startsWith(u"№9  запись не читается"_s),
                 qPrintable(list->topLevelItem(0)->text(0)));
        QTreeWidgetItem *folder = list->topLevelItem(1);
        QCOMPARE(folder->text(0), g.request.gameFolder);
        QCOMPARE(folder->childCount(), 2);
        const QString zip = g.path("new.zip");
        QVERIFY2(folder->child(0)->text(0).contains(u"Wren из архива «%1» (цвета 1, 2)"_s.arg(zip)),
                 qPrintable(folder->child(0)->text(0)));
        QVERIFY2(folder->child(1)->text(0).contains(u"Wren (цвета 1)"_s),
                 qPrintable(folder->child(1)->text(0)));
        QCOMPARE(list->currentItem(), folder);

        QTest::mouseClick(undoAll, Qt::LeftButton);
        QVERIFY(!undoAll->isEnabled()); // while the undo runs
        const auto undone = [&] {
            return report->toPlainText().split(u'\n').filter(u"Установка отменена."_s).size();
        };
        QTRY_COMPARE(undone(), 2);
        QVERIFY2(report->toPlainText().endsWith(u"Установка отменена."_s),
                 qPrintable(report->toPlainText()));
        QTRY_COMPARE(list->topLevelItemCount(), 1);
        QVERIFY(!undoAll->isEnabled()); // nothing left to undo

        QCOMPARE(game("models/wren00.4ds"), "stock 00");
        QCOMPARE(game("models/wren10.4ds"), "stock 10");
        QCOMPARE(host::entries(gameFolder), stock);
        QVERIFY(g.installs().isEmpty());

        // The record that cannot be read, given up once the player says yes.
        RecordingMessageBox box;
        box.answer = runtime::vbYes;
        auto *forget = window.findChild<QPushButton *>(u"forget"_s);
        list->setCurrentItem(list->topLevelItem(0));
        QVERIFY(forget->isEnabled());
        QTest::mouseClick(forget, Qt::LeftButton);
        QTRY_COMPARE(list->topLevelItem(0)->text(0), messages::NoInstalls);
        QCOMPARE(box.shown.size(), 1);
        QVERIFY(
            host::names(g.hostPath("data/forgotten/00000009-elsewhere")).contains("record.json"));
    }
};

QTEST_MAIN(TestUndoWindow)
#include "tst_undowindow.moc"
