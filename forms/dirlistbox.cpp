// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/dirlistbox.h"

#include "forms/formsupport.h"
#include "runtime/drives.h"

#include <QDir>
#include <QKeyEvent>
#include <QStyledItemDelegate>

using namespace Qt::StringLiterals;

namespace {

constexpr int FolderRole = Qt::UserRole;
constexpr int LevelRole = Qt::UserRole + 1;

// Shifts each item right by its level.
class IndentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem shifted = option;
        shifted.rect.setLeft(option.rect.left() + indent(option, index));
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(option, index), 0);
    }

private:
    static int indent(const QStyleOptionViewItem &option, const QModelIndex &index)
    {
        return index.data(LevelRole).toInt() * option.fontMetrics.averageCharWidth() * 2;
    }
};

} // namespace

DirListBox::DirListBox(runtime::FileSystem &files, runtime::PathStyle style, QWidget *parent)
    : QListWidget(parent), m_files(files), m_style(style), m_roots{QDir::rootPath()}
{
    setItemDelegate(new IndentDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem *item) { openRow(row(item)); });
}

void DirListBox::setDriveRoots(const QStringList &roots)
{
    m_roots = roots.isEmpty() ? QStringList{QDir::rootPath()} : roots;
}

void DirListBox::setPath(const QString &folder)
{
    const QString path = QDir::cleanPath(folder);
    const QStringList children = runtime::subfolders(m_files, path);

    QString root = rootOf(path);
    if (root.isEmpty())
        root = QDir::rootPath();
    QStringList chain{root};
    const QString below = path.mid(root.size());
    chain += below.split(u'/', Qt::SkipEmptyParts);

    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QString folderPath;
    for (int level = 0; level < chain.size(); ++level) {
        folderPath = level == 0 ? root : runtime::childPath(folderPath, chain[level]);
        // The root as the player writes it, "C:\\"; the folders by their names.
        const QString text = level == 0 ? runtime::shownPath(root, m_style) : chain[level];
        auto *item = new QListWidgetItem(openIcon, text, this);
        item->setData(FolderRole, folderPath);
        item->setData(LevelRole, level);
    }
    for (const QString &name : children) {
        auto *item = new QListWidgetItem(closedIcon, name, this);
        item->setData(FolderRole, runtime::childPath(path, name));
        item->setData(LevelRole, int(chain.size()));
    }

    m_path = path;
    m_openedRow = int(chain.size()) - 1;
    setCurrentRow(m_openedRow);
    emit pathChanged(m_path);
}

QString DirListBox::rootOf(const QString &folder) const
{
    return runtime::driveRootOf(folder, m_roots, m_style);
}

QString DirListBox::folderAt(int row) const
{
    const QListWidgetItem *it = item(row);
    return it ? it->data(FolderRole).toString() : QString();
}

void DirListBox::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
        openRow(currentRow());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void DirListBox::openRow(int row)
{
    const QString folder = folderAt(row);
    if (folder.isEmpty())
        return;
    if (!reportErrors([&] { setPath(folder); })) {
        // A folder that vanished should not be offered again; when the opened folder
        // itself is gone, the list stays as it was.
        try {
            setPath(m_path);
        } catch (const runtime::RuntimeError &) {
        }
    }
}
