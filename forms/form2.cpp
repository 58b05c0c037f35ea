// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/form2.h"

#include "forms/dirlistbox.h"
#include "forms/formsupport.h"
#include "runtime/drives.h"
#include "runtime/hostpath.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

using namespace Qt::StringLiterals;

Form2::Form2(QWidget &owner, runtime::FileSystem &files, const runtime::HostPaths &host)
    : QWidget(&owner, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"Выбор папки"_s);
    setFont(owner.font());

    // Created in the order of their tab indices.
    m_drive1 = placeControl(new QComboBox(this), u"Drive1"_s, u"Диск"_s, 240, 600, 2775, 315);
    m_dir1 = placeControl(new DirListBox(files, host.style, this), u"Dir1"_s, u"Label1"_s, 240, 960,
                          2775, 3465);
    m_label1 =
        placeControl(new QLabel(u"Label1"_s, this), u"Label1"_s, u"Label1"_s, 240, 240, 2775, 255);
    m_command1 =
        placeControl(new QPushButton(u"ОК"_s, this), u"Command1"_s, u"ОК"_s, 240, 4440, 2775, 495);
    m_label1->setBuddy(m_dir1);
    setTabOrder(m_drive1, m_dir1);
    setTabOrder(m_dir1, m_command1);
    setFixedSize(twipsToPixels(this, 0, 0, 3300, 4965).size());

    const QIcon driveIcon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    QStringList roots;
    for (const runtime::Drive &drive : runtime::drives()) {
        // As the player writes the drive's root: "C:\\".
        const QString root = runtime::shownPath(drive.root, host.style);
        const QString text = drive.label.isEmpty() ? root : u"%1 [%2]"_s.arg(root, drive.label);
        m_drive1->addItem(driveIcon, text, drive.root);
        roots.append(drive.root);
    }
    m_dir1->setDriveRoots(roots);
    connect(m_dir1, &DirListBox::pathChanged, this, &Form2::showDriveOf);

    // The folder the program was started in.
    const QByteArray current = host.currentFolder;
    if (!reportErrors([&] {
            if (current.isEmpty())
                runtime::raise(runtime::ErrorKind::NoCurrentFolder, runtime::Operation::ReadFolder);
            m_dir1->setPath(runtime::decodeName(current));
        }))
        reportErrors([this] { m_dir1->setPath(QDir::rootPath()); });

    connect(m_drive1, &QComboBox::activated, this, &Form2::openChosenDrive);
    connect(m_command1, &QPushButton::clicked, this, &Form2::okClicked);
}

void Form2::setFieldCaption(const QString &caption)
{
    m_label1->setText(caption);
    m_label1->setAccessibleName(caption);
    m_dir1->setAccessibleName(caption);
}

void Form2::openChosenDrive()
{
    const QString root = m_drive1->currentData().toString();
    // Choosing the drive already shown is no change: the folder list stays where it is.
    if (root == m_drive)
        return;
    // A drive that cannot be read leaves the picker where it was.
    if (!reportErrors([&] { m_dir1->setPath(root); }))
        showDriveOf(m_dir1->Path());
}

void Form2::okClicked()
{
    // A drive's root folder ends in a separator, as "/" does, a mount point's and a share's
    // too.
    QString folder = m_dir1->Path();
    const QString root = m_dir1->rootOf(folder);
    if (!folder.endsWith(u'/') && (root == folder || root == folder + u'/'))
        folder += u'/';
    emit folderChosen(folder);
    close();
}

void Form2::showDriveOf(const QString &folder)
{
    const QStringList roots = driveRoots();
    m_drive = m_dir1->rootOf(folder);
    m_drive1->setCurrentIndex(int(roots.indexOf(m_drive)));
}

QStringList Form2::driveRoots() const
{
    QStringList roots;
    for (int i = 0; i < m_drive1->count(); ++i)
        roots.append(m_drive1->itemData(i).toString());
    return roots;
}
