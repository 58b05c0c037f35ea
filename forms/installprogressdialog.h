// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

// Shows how an install goes once it has run for half a second: a modal dialog with the
// files done of the files to copy and the file being copied, fed by the install's signals.
// It cannot be dismissed, and goes with this object. A short install shows nothing.
class InstallProgressDialog : public QObject
{
    Q_OBJECT

public:
    explicit InstallProgressDialog(QWidget *parent);
    ~InstallProgressDialog() override;

    // The dialog, once shown.
    QProgressDialog *dialog() const { return m_dialog; }

public slots:
    void copying(int done, int total, const QString &file);
    void writingOut();

private:
    void show();
    void update();

    QWidget *m_parent;
    QTimer m_delay;
    QPointer<QProgressDialog> m_dialog;
    QString m_label;
    int m_done = 0;
    int m_total = 0;
};
