// SPDX-License-Identifier: GPL-3.0-or-later
// The boundary between the program and the system it runs on. Each platform has a folder of
// its own, which CMakeLists.txt picks: runtime/posix/ or runtime/windows/. Each defines all
// of the following, declared in the header named.
//
// The file system (hostfilesystem.h, filesystem.h):
//   PosixFileSystem or WindowsFileSystem   every operation of FileSystem (HostFileSystem)
//   Fd::reset                              closes a file descriptor or a handle
//   makePrivateFolder, isOwnOnly           the records' folders and who may change them:
//                                          posixowner.cpp, windowsowner.cpp
// The user and the paths (hostpath.h):
//   processUser                  the user the process runs as
//   programFilesFolders          the folders of programs only an administrator may write to,
//                                and the VirtualStore (none on POSIX)
//   HostPaths::ofProcess         Wine's prefix, the current folder, the records' folder
//   driveRoot                    the root folder of a drive letter, when the drive is ready
//   isAbsoluteHost               whether a host path starts from a root
//   isNameTooLong                whether a name is too long for the host's file systems
//   hostPathStyle                how the player writes paths: POSIX's or Windows' way
// The drives (drives.h):
//   drives                       the machine's drives, as the folder picker shows them
//   isUserFileSystem             POSIX only: whether a mount holds the user's files
// The process (processinfo.h):
//   peakResidentKiB              the most memory the process has held
//   commandArguments             the arguments, as the program's paths
//   attachConsole, restoreConsole  the console of the program that started this one
//   announceRunning              the program's run, for the installer
// The dialogs (filedialog.h):
//   systemFileDialogSuits        whether the system's own file dialog is the one to show
#pragma once

#include "runtime/drives.h"
#include "runtime/filedialog.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "runtime/processinfo.h"
