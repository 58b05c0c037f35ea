#include "install/installcar.h"
#include "testsupport.h"
#include "windows/installprogressdialog.h"

#include <QApplication>
#include <QProgressDialog>
#include <memory>

using namespace Qt::StringLiterals;

// Records what the dialog showed at each step of an install.
class ProbedDialog : public InstallProgressDialog
{
public:
    using InstallProgressDialog::InstallProgressDialog;

    void copying(int done, int total, const QString &file) override
    {
        InstallProgressDialog::copying(done, total, file);
        record();
    }
    void writingOut() override
    {
        InstallProgressDialog::writingOut();
        record();
    }

    QStringList labels;
    QList<int> values;
    bool alwaysModal = true;

private:
    void record()
    {
        if (!dialog())
            return;
        labels.append(dialog()->labelText());
        values.append(dialog()->value());
        alwaysModal = alwaysModal && QApplication::activeModalWidget() == dialog();
    }
};

class TestProgressDialog : public QObject
{
    Q_OBJECT

private:
    // Installs two colours of a car with three textures, with `progress` looking on.
    void install(InstallProgress &progress)
    {
        TempTree tree;
        tree.file(u"Game/a0.dta"_s);
        tree.file(u"new/car.4ds"_s, "model");
        for (const QString &t : {u"a.bmp"_s, u"b.tga"_s, u"c.txt"_s})
            tree.file(u"new/Maps/"_s + t, "texture");
        auto cars = std::make_unique<CarTable>();
        cars->CarModel[0] = u"wren"_s;
        cars->CarColours[0] = u"2"_s;
        cars->CarCount = 1;
        FakeControls form;
        form.text1 = tree.path(u"Game"_s);
        form.text2 = tree.path(u"new/car.4ds"_s);
        form.text3 = tree.path(u"new/Maps"_s);
        form.listIndex = 0;
        form.checks[0] = form.checks[1] = 1;
        ColourSelection selected{};
        QVERIFY(InstallCar(form, *cars, selected, &progress).installed());
    }

private slots:
    void longInstallShowsProgress()
    {
        QWidget window;
        window.show();
        ProbedDialog progress(&window, 0);
        install(progress);
        QVERIFY(progress.dialog());
        QVERIFY(progress.alwaysModal);
        QCOMPARE(progress.dialog()->maximum(), 7);
        QCOMPARE(progress.labels.first(), u"Копирование файла 1 из 7:\nmodels\\wren00.4ds"_s);
        QCOMPARE(progress.labels.filter(u"maps\\c.txt"_s).size(), 1);
        QCOMPARE(progress.labels.last(), u"Запись на диск…"_s);
        QCOMPARE(progress.values.last(), 7);
        QCOMPARE(progress.values[progress.labels.indexOf(u"Запись на диск…"_s)], 4);
        QVERIFY(progress.dialog()->isHidden()); // gone before the closing message
        QVERIFY(std::is_sorted(progress.values.begin(), progress.values.end()));
    }

    void shortInstallShowsNothing()
    {
        ProbedDialog progress(nullptr, 60 * 60 * 1000);
        install(progress);
        QVERIFY(!progress.dialog());
        QVERIFY(progress.labels.isEmpty());
    }

    void dialogGoesWithTheInstall()
    {
        QPointer<QProgressDialog> shown;
        {
            InstallProgressDialog progress(nullptr, 0);
            install(progress);
            shown = progress.dialog();
            QVERIFY(shown);
        }
        QVERIFY(!shown);
    }
};

QTEST_MAIN(TestProgressDialog)
#include "tst_progressdialog.moc"
