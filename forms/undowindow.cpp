// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/undowindow.h"

#include "runtime/messagebox.h"
#include "texts/messages.h"
#include "texts/recordtexts.h"

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

// What an item of the list keeps.
constexpr int NewestRole = Qt::UserRole;   // a game folder's: the number of the install to undo
constexpr int NumberRole = NewestRole + 1; // a record's: its number, to give it up
constexpr int GroupRole = NewestRole + 2;  // a game folder's: what it is known by

UndoWindow::Installs readInstalls(const records::Store &store, const runtime::HostPaths &host)
{
    UndoWindow::Installs result;
    try {
        result.listing = records::RecordedInstalls(store, host);
    } catch (const records::RecordsError &error) {
        result.error = error.error();
    }
    return result;
}

// The installs of one game folder go together: the folder known by what it is, where the
// record knows that, else by its path.
QString groupOf(const records::InstallRecord &record)
{
    return record.game.known() ? u"%1:%2"_s.arg(record.game.device).arg(record.game.inode)
                               : runtime::decodeName(record.gameHost);
}

QTreeWidgetItem *line(QTreeWidgetItem *item, qint64 number)
{
    item->setData(0, NumberRole, number);
    item->setToolTip(0, item->text(0));
    return item;
}

} // namespace

UndoWindow::UndoWindow(runtime::FileSystem &files, const runtime::HostPaths &host, QWidget *parent)
    : QWidget(parent), m_files(files), m_host(host), m_store(files, m_host.dataFolder, m_host.user)
{
    setWindowTitle(messages::UndoWindowTitle);

    auto *label = new QLabel(messages::RecordedInstalls, this);
    m_installs = new QTreeWidget(this);
    m_installs->setObjectName(u"installs"_s);
    m_installs->setHeaderHidden(true);
    m_installs->setColumnCount(1);
    // The lines are long: they scroll sideways rather than lose their ends.
    m_installs->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_installs->header()->setStretchLastSection(false);
    label->setBuddy(m_installs);

    m_undoLast = new QPushButton(messages::UndoLast, this);
    m_undoLast->setObjectName(u"undoLast"_s);
    m_undoAll = new QPushButton(messages::UndoAll, this);
    m_undoAll->setObjectName(u"undoAll"_s);
    m_forget = new QPushButton(messages::Forget, this);
    m_forget->setObjectName(u"forget"_s);
    m_close = new QPushButton(messages::Close, this);
    m_close->setObjectName(u"close"_s);

    m_reportText = new QPlainTextEdit(this);
    m_reportText->setObjectName(u"report"_s);
    m_reportText->setReadOnly(true);
    m_reportText->setAccessibleName(messages::UndoProgress);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_undoLast);
    buttons->addWidget(m_undoAll);
    buttons->addWidget(m_forget);
    buttons->addStretch();
    buttons->addWidget(m_close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_installs, 3);
    layout->addLayout(buttons);
    layout->addWidget(m_reportText, 2);
    resize(760, 480);

    connect(m_installs, &QTreeWidget::currentItemChanged, this, &UndoWindow::enableButtons);
    connect(m_undoLast, &QPushButton::clicked, this, &UndoWindow::undoLast);
    connect(m_undoAll, &QPushButton::clicked, this, &UndoWindow::undoAll);
    connect(m_forget, &QPushButton::clicked, this, &UndoWindow::forgetChosen);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);

    // The records are small files in the program's own folder, read at once.
    showInstalls(readInstalls(m_store, m_host));
}

// The number an item of the chosen line keeps: for NewestRole, its game folder's.
qint64 UndoWindow::chosen(int role) const
{
    const QTreeWidgetItem *item = m_installs->currentItem();
    if (item && item->parent() && role == NewestRole)
        item = item->parent();
    return item ? item->data(0, role).toLongLong() : 0;
}

// By the number of the install, so that the folder it was made in is found by what it is,
// not by its path as text.
void UndoWindow::undoLast()
{
    const records::UndoTarget target{QString(), chosen(NewestRole)};
    if (target.number > 0)
        start([this, target](Done &done) {
            done.outcomes = {records::UndoInstall(m_store, m_host, target, [this] {
                QMetaObject::invokeMethod(this, &UndoWindow::undoWaiting, Qt::QueuedConnection);
            })};
        });
}

void UndoWindow::undoAll()
{
    const records::UndoTarget target{QString(), chosen(NewestRole)};
    if (target.number > 0)
        start([this, target](Done &done) {
            done.outcomes = records::UndoAllInstalls(m_store, m_host, target, [this] {
                QMetaObject::invokeMethod(this, &UndoWindow::undoWaiting, Qt::QueuedConnection);
            });
        });
}

void UndoWindow::forgetChosen()
{
    const qint64 number = chosen(NumberRole);
    if (number <= 0 || m_work ||
        runtime::MsgBox(messages::ForgetQuestion.arg(number),
                        runtime::vbYesNo | runtime::vbQuestion,
                        messages::UndoWindowTitle) != runtime::vbYes)
        return;
    start([this, number](Done &done) { done.forgotten = records::ForgetInstall(m_store, number); },
          number);
}

void UndoWindow::start(const std::function<void(Done &)> &work, qint64 forgetting)
{
    if (m_work)
        return;
    m_reportText->clear();
    const auto run = [this, work] {
        Done done;
        try {
            work(done);
        } catch (const records::RecordsError &error) {
            done.error = error.error();
        } catch (const std::exception &fault) {
            done.fault = QString::fromLocal8Bit(fault.what());
        }
        done.after = readInstalls(m_store, m_host);
        return done;
    };
    m_work = runtime::runAsync(
        this, run, [this, forgetting](const Done &done) { finished(done, forgetting); });
    enableButtons();
}

void UndoWindow::undoWaiting()
{
    m_reportText->appendPlainText(messages::UndoWaiting);
}

void UndoWindow::finished(const Done &done, qint64 forgetting)
{
    m_work.reset();
    QStringList report;
    for (const records::UndoOutcome &outcome : done.outcomes) {
        if (!report.isEmpty())
            report.append(QString());
        const QString folder = outcome.install ? outcome.install->gameFolder : QString();
        report += messages::undoReport(outcome, folder);
    }
    if (done.forgotten) {
        m_store.writeNote(done.forgotten->folder, messages::ForgottenNoteName,
                          messages::forgottenNote(forgetting, *done.forgotten).toUtf8());
        report += messages::forgottenReport(forgetting, *done.forgotten);
    }
    if (done.error)
        report.append(messages::describe(*done.error));
    if (!done.fault.isEmpty())
        report.append(messages::ProgramFault.arg(done.fault));
    for (const QString &text : std::as_const(report))
        m_reportText->appendPlainText(text);
    showInstalls(done.after);
    if (m_closeRequested)
        close();
}

void UndoWindow::showInstalls(const Installs &installs)
{
    const QString chosenGroup =
        m_installs->currentItem()
            ? (m_installs->currentItem()->parent() ? m_installs->currentItem()->parent()
                                                   : m_installs->currentItem())
                  ->data(0, GroupRole)
                  .toString()
            : QString();
    m_installs->clear();
    // Records that cannot be read are shown first: they may stop an undo.
    for (const records::ListedUnreadable &record : installs.listing.unreadable)
        line(new QTreeWidgetItem(m_installs, {messages::unreadableLine(record)}),
             record.record.number());
    if (installs.error ||
        (installs.listing.installs.isEmpty() && installs.listing.unreadable.isEmpty())) {
        auto *item =
            new QTreeWidgetItem(m_installs, {installs.error ? messages::describe(*installs.error)
                                                            : messages::NoInstalls});
        item->setToolTip(0, item->text(0));
        enableButtons();
        return;
    }
    // A folder comes where its newest install does, as the player last typed it.
    QTreeWidgetItem *current = nullptr;
    QHash<QString, QTreeWidgetItem *> groups;
    for (const records::ListedInstall &listed : installs.listing.installs) {
        const records::InstallRecord &install = listed.record;
        QTreeWidgetItem *&folder = groups[groupOf(install)];
        if (!folder) {
            folder = new QTreeWidgetItem(m_installs, {messages::printable(install.gameFolder)});
            folder->setData(0, GroupRole, groupOf(install));
            folder->setToolTip(0, runtime::decodeName(install.gameHost));
            folder->setExpanded(true);
            if (!current || groupOf(install) == chosenGroup)
                current = folder;
        }
        auto *item =
            line(new QTreeWidgetItem(folder, {messages::installLine(listed)}), install.number());
        // Undone but for files changed since, or not recorded whole: shown, never undone.
        const bool undoable = !install.undone && install.complete;
        item->setForeground(
            0, palette().brush(undoable ? QPalette::Active : QPalette::Disabled, QPalette::Text));
        // The newest not undone is the one to undo, or to be told why not.
        if (!install.undone && folder->data(0, NewestRole).toLongLong() == 0)
            folder->setData(0, NewestRole, install.number());
    }
    m_installs->setCurrentItem(current);
    enableButtons();
}

void UndoWindow::enableButtons()
{
    const bool undoable = !m_work && chosen(NewestRole) > 0;
    m_undoLast->setEnabled(undoable);
    m_undoAll->setEnabled(undoable);
    m_forget->setEnabled(!m_work && chosen(NumberRole) > 0);
}

void UndoWindow::closeEvent(QCloseEvent *event)
{
    // The work is not broken off: it runs to its end, and the window closes after that.
    if (m_work) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    event->accept();
}
