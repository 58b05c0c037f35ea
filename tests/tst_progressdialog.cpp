// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/installprogressdialog.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>

using namespace Qt::StringLiterals;

class TestProgressDialog : public QObject
{
    Q_OBJECT

private slots:
    // After half a second, the dialog shows the progress it was fed, also what came before
    // it showed. Esc and the frame's close leave it up; it goes with its object.
    void showsProgressAndStays()
    {
        QWidget window;
        window.show();
        QPointer<QProgressDialog> shown;
        {
            InstallProgressDialog progress(&window);
            progress.copying(0, 7, u"models\\wren00.4ds"_s);
            QTRY_VERIFY(progress.dialog() && progress.dialog()->isVisible());
            shown = progress.dialog();
            QCOMPARE(QApplication::activeModalWidget(), shown.data());
            QCOMPARE(shown->labelText(), u"Копирование файла 1 из 7:\nmodels\\wren00.4ds"_s);
            QCOMPARE(shown->maximum(), 7);
            QCOMPARE(shown->value(), 0);

            progress.copying(6, 7, u"maps\\c.txt"_s);
            QCOMPARE(shown->labelText(), u"Копирование файла 7 из 7:\nmaps\\c.txt"_s);
            QCOMPARE(shown->value(), 6);
            progress.writingOut();
            QCOMPARE(shown->labelText(), u"Запись на диск…"_s);
            QCOMPARE(shown->value(), 7);

            QTest::keyClick(shown, Qt::Key_Escape);
            shown->close();
            QVERIFY(shown->isVisible());
        }
        QVERIFY(!shown);
    }

    void shortInstallShowsNothing()
    {
        QElapsedTimer clock;
        clock.start();
        InstallProgressDialog progress(nullptr);
        progress.copying(0, 1, u"maps\\a.bmp"_s);
        QTest::qWait(100);
        QVERIFY(!progress.dialog() || clock.elapsed() >= 500);
    }
};

QTEST_MAIN(TestProgressDialog)
#include "tst_progressdialog.moc"
