#include "windows/installprogressdialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QProgressDialog>

using namespace Qt::StringLiterals;

namespace {

// Stays until the install ends: a player who could close it would lose the only sign that
// files are still being written. Esc and the frame's close do nothing.
class StayingProgressDialog : public QProgressDialog
{
public:
    using QProgressDialog::QProgressDialog;
    void reject() override {}

protected:
    void closeEvent(QCloseEvent *event) override { event->ignore(); }
};

} // namespace

InstallProgressDialog::InstallProgressDialog(QWidget *parent, int delayMs)
    : m_parent(parent), m_delayMs(delayMs)
{
    m_clock.start();
}

InstallProgressDialog::~InstallProgressDialog()
{
    delete m_dialog;
}

void InstallProgressDialog::copying(int done, int total, const QString &file)
{
    m_started = done + 1;
    m_total = total;
    update(done, total, u"Копирование файла %1 из %2:\n%3"_s.arg(done + 1).arg(total).arg(file));
}

void InstallProgressDialog::writingOut()
{
    update(m_started, m_total, u"Запись на диск…"_s);
}

void InstallProgressDialog::finished()
{
    if (m_dialog)
        m_dialog->hide(); // the closing message stands alone
}

void InstallProgressDialog::update(int done, int total, const QString &label)
{
    if (!m_dialog) {
        if (m_clock.elapsed() < m_delayMs)
            return;
        m_dialog = new StayingProgressDialog(m_parent);
        m_dialog->setWindowTitle(u"Установка машины"_s);
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setCancelButton(nullptr); // a half-made install is worse than a finished one
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->setMinimumWidth(360);
        m_dialog->show();
    }
    m_dialog->setMaximum(std::max(total, 1));
    m_dialog->setValue(std::min(done, total));
    m_dialog->setLabelText(label);
    // Between two files the window repaints; the modal dialog keeps its input away.
    QApplication::processEvents();
}
