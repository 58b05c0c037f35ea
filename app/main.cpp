#include "runtime/messagebox.h"
#include "runtime/runtimeerror.h"
#include "runtime/widgetmessagebox.h"
#include "windows/form1.h"

#include <QApplication>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Quillmere"_s);

    runtime::WidgetMessageBox messageBox;
    runtime::setMessageBoxService(&messageBox);

    Form1 form;
    try {
        form.Form_Load(carListPath());
    } catch (const runtime::RuntimeError &error) {
        runtime::MsgBox(error.message(), runtime::vbCritical, u"Ошибка"_s);
        return 1;
    }
    form.show();
    return app.exec();
}
