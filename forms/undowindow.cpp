// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/undowindow.h"

#include "install/messages.h"
#include "records/undoall.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// What a top-level item of the list keeps of its game folder.
constexpr int HostRole = Qt::UserRole;     // the host path the installs named
constexpr int UndoableRole = HostRole + 1; // whether one of them can still be undone

UndoWindow::Installs readInstalls(runtime::FileSystem &files, const runtime::HostPaths &host)
{
    UndoWindow::Installs result;
    try {
        records::Records all = RecordedInstalls(files, host);
        result.installs = std::move(all.good);
        result.unreadable = std::move(all.damaged);
    } catch (const runtime::RuntimeError &error) {
        result.error = error.error();
    }
    return result;
}

} // namespace

UndoWindow::UndoWindow(runtime::FileSystem &files, const runtime::HostPaths &host, QWidget *parent)
    : QWidget(parent), m_files(files), m_host(host)
{
    setWindowTitle(u"Отменить установку машины"_s);

    auto *label = new QLabel(u"Записанные установки, новые первыми:"_s, this);
    m_installs = new QTreeWidget(this);
    m_installs->setObjectName(u"installs"_s);
    m_installs->setHeaderHidden(true);
    m_installs->setColumnCount(1);
    // The lines are long: they scroll sideways rather than lose their ends.
    m_installs->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_installs->header()->setStretchLastSection(false);
    label->setBuddy(m_installs);

    m_undoLast = new QPushButton(u"Отменить последнюю установку"_s, this);
    m_undoLast->setObjectName(u"undoLast"_s);
    m_undoAll = new QPushButton(u"Отменить все установки в эту папку"_s, this);
    m_undoAll->setObjectName(u"undoAll"_s);
    m_close = new QPushButton(u"Закрыть"_s, this);
    m_close->setObjectName(u"close"_s);

    m_reportText = new QPlainTextEdit(this);
    m_reportText->setObjectName(u"report"_s);
    m_reportText->setReadOnly(true);
    m_reportText->setAccessibleName(u"Ход отмены"_s);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_undoLast);
    buttons->addWidget(m_undoAll);
    buttons->addStretch();
    buttons->addWidget(m_close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_installs, 3);
    layout->addLayout(buttons);
    layout->addWidget(m_reportText, 2);
    resize(720, 480);

    connect(m_installs, &QTreeWidget::currentItemChanged, this, &UndoWindow::enableButtons);
    connect(m_undoLast, &QPushButton::clicked, this, &UndoWindow::undoLast);
    connect(m_undoAll, &QPushButton::clicked, this, &UndoWindow::undoAll);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);

    // The records are small files in the program's own folder, read at once.
    showInstalls(readInstalls(m_files, m_host));
}

void UndoWindow::undoLast()
{
    startUndo(false);
}

void UndoWindow::undoAll()
{
    startUndo(true);
}

QByteArray UndoWindow::chosenFolder() const
{
    const QTreeWidgetItem *item = m_installs->currentItem();
    if (item && item->parent())
        item = item->parent();
    return item ? item->data(0, HostRole).toByteArray() : QByteArray();
}

void UndoWindow::startUndo(bool all)
{
    const QByteArray gameHost = chosenFolder();
    if (m_undo || gameHost.isEmpty())
        return;
    // The folder the installs named on the host, not as typed: a relative or drive path
    // typed then may lead elsewhere now. The text as typed names it in the report.
    const QString gameFolder = runtime::decodeName(gameHost);
    QString typed = gameFolder;
    for (int i = 0; i < m_installs->topLevelItemCount(); ++i) {
        if (m_installs->topLevelItem(i)->data(0, HostRole).toByteArray() == gameHost)
            typed = m_installs->topLevelItem(i)->text(0);
    }

    m_reportText->clear();
    const auto undo = [this, gameFolder, typed, all] {
        const auto waiting = [this] {
            QMetaObject::invokeMethod(this, &UndoWindow::undoWaiting, Qt::QueuedConnection);
        };
        QStringList report;
        try {
            const QList<UndoOutcome> outcomes =
                all ? UndoAllInstalls(gameFolder, m_files, m_host, waiting)
                    : QList{UndoInstall(gameFolder, m_files, m_host, waiting)};
            for (const UndoOutcome &outcome : outcomes) {
                if (!report.isEmpty())
                    report.append(QString());
                report += messages::undoReport(outcome, typed);
            }
        } catch (const std::exception &fault) {
            report.append(messages::ProgramFault.arg(QString::fromLocal8Bit(fault.what())));
        }
        return std::pair(report, readInstalls(m_files, m_host));
    };
    m_undo = runtime::runAsync(this, undo,
                               [this](const auto &done) { undoFinished(done.first, done.second); });
    enableButtons();
}

void UndoWindow::undoWaiting()
{
    m_reportText->appendPlainText(messages::UndoWaiting);
}

void UndoWindow::undoFinished(const QStringList &report, const Installs &after)
{
    m_undo.reset();
    for (const QString &line : report)
        m_reportText->appendPlainText(line);
    showInstalls(after);
    if (m_closeRequested)
        close();
}

void UndoWindow::showInstalls(const Installs &installs)
{
    const QByteArray chosen = chosenFolder();
    m_installs->clear();
    // Records that cannot be read are shown first: they may stop an undo.
    for (const records::Unreadable &record : installs.unreadable) {
        auto *item = new QTreeWidgetItem(m_installs, {messages::unreadableLine(record)});
        item->setFlags(Qt::ItemIsEnabled);
        item->setToolTip(0, item->text(0));
    }
    if (installs.error || (installs.installs.isEmpty() && installs.unreadable.isEmpty())) {
        auto *item =
            new QTreeWidgetItem(m_installs, {installs.error ? messages::describe(*installs.error)
                                                            : messages::NoInstalls});
        item->setFlags(Qt::ItemIsEnabled);
        item->setToolTip(0, item->text(0));
        enableButtons();
        return;
    }
    // A folder comes where its newest install does, as the player last typed it.
    QTreeWidgetItem *current = nullptr;
    for (const records::InstallRecord &install : installs.installs) {
        QTreeWidgetItem *folder = nullptr;
        for (int i = 0; i < m_installs->topLevelItemCount() && !folder; ++i) {
            if (m_installs->topLevelItem(i)->data(0, HostRole).toByteArray() == install.gameHost)
                folder = m_installs->topLevelItem(i);
        }
        if (!folder) {
            folder = new QTreeWidgetItem(m_installs, {install.gameFolder});
            folder->setData(0, HostRole, install.gameHost);
            folder->setToolTip(0, runtime::decodeName(install.gameHost));
            folder->setExpanded(true);
            if (!current || install.gameHost == chosen)
                current = folder;
        }
        auto *line = new QTreeWidgetItem(folder, {messages::installLine(install)});
        // Undone but for files changed since, or not recorded whole: shown, never undone.
        line->setDisabled(install.undone || !install.complete);
        if (!install.undone && install.complete)
            folder->setData(0, UndoableRole, true);
    }
    m_installs->setCurrentItem(current);
    enableButtons();
}

void UndoWindow::enableButtons()
{
    const QTreeWidgetItem *item = m_installs->currentItem();
    if (item && item->parent())
        item = item->parent();
    const bool undoable = !m_undo && item && item->data(0, UndoableRole).toBool();
    m_undoLast->setEnabled(undoable);
    m_undoAll->setEnabled(undoable);
}

void UndoWindow::closeEvent(QCloseEvent *event)
{
    // An undo is not broken off: it runs to its end, and the window closes after that.
    if (m_undo) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    event->accept();
}
