#pragma once

#include "install/installcar.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>

// Shows how an install goes once it has taken longer than a moment: a modal dialog with
// the files done of the files to copy and the file being copied, updated between files.
// While it is up the main window repaints but takes no input, so no second install can
// start. A short install shows nothing.
class InstallProgressDialog : public InstallProgress
{
public:
    explicit InstallProgressDialog(QWidget *parent, int delayMs = 500);
    ~InstallProgressDialog() override;

    void copying(int done, int total, const QString &file) override;
    void writingOut() override;
    void finished() override;

    // The dialog, once shown.
    QProgressDialog *dialog() const { return m_dialog; }

private:
    void update(int done, int total, const QString &label);

    QWidget *m_parent;
    int m_delayMs;
    QElapsedTimer m_clock;
    QPointer<QProgressDialog> m_dialog;
    int m_started = 0; // files copied or being copied
    int m_total = 0;
};
