// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/installprogressdialog.h"

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

InstallProgressDialog::InstallProgressDialog(QWidget *parent)
    : m_parent(parent), m_label(u"Проверка файлов…"_s)
{
    m_delay.setSingleShot(true);
    connect(&m_delay, &QTimer::timeout, this, &InstallProgressDialog::show);
    m_delay.start(500);
}

InstallProgressDialog::~InstallProgressDialog()
{
    delete m_dialog;
}

void InstallProgressDialog::copying(int done, int total, const QString &file)
{
    m_done = done;
    m_total = total;
    m_label = u"Копирование файла %1 из %2:\n%3"_s.arg(done + 1).arg(total).arg(file);
    update();
}

void InstallProgressDialog::writingOut()
{
    m_done = m_total;
    m_label = u"Запись на диск…"_s;
    update();
}

void InstallProgressDialog::show()
{
    m_dialog = new StayingProgressDialog(m_parent);
    m_dialog->setWindowTitle(u"Установка машины"_s);
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setCancelButton(nullptr); // a half-made install is worse than a finished one
    m_dialog->setMinimumDuration(0);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setMinimumWidth(360);
    update();
    m_dialog->show();
}

void InstallProgressDialog::update()
{
    if (!m_dialog)
        return;
    m_dialog->setMaximum(std::max(m_total, 1));
    m_dialog->setValue(std::min(m_done, m_total));
    m_dialog->setLabelText(m_label);
}
