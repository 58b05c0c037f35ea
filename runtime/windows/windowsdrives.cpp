// SPDX-License-Identifier: GPL-3.0-or-later
// The drives on Windows: the system owns the drive letters.
#include "runtime/windows/windowscalls.h"

#include <algorithm>

namespace runtime {

using namespace windows;

// An install resolves two paths a file, and asking whether a drive is ready costs a trip to
// the mount manager (Wine's, far slower) each time: a drive found ready is taken as ready for
// the next second. One that goes in that second fails the file call that follows instead.
QByteArray driveRoot(char letter, const HostPaths &)
{
    using Clock = std::chrono::steady_clock;
    WindowsProcessState &state = processState();
    const int drive = (letter | 0x20) - 'a';
    const QByteArray root = QByteArray(1, char(letter & ~0x20)) + ":/";
    if (drive < 0 || drive >= 26)
        return {};
    {
        const std::lock_guard guard(state.drivesMutex);
        if (Clock::now() < state.driveReadyUntil[size_t(drive)])
            return root;
    }
    const wchar_t wide[] = {wchar_t(root[0]), L':', L'\\', 0};
    const UINT type = ::GetDriveTypeW(wide);
    if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR)
        return {};
    // A drive without a disc, or a share that is gone, has no attributes to read.
    if (::GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES)
        return {};
    const std::lock_guard guard(state.drivesMutex);
    state.driveReadyUntil[size_t(drive)] = Clock::now() + std::chrono::seconds(1);
    return root;
}

QList<Drive> drives()
{
    QList<Drive> result;
    wchar_t roots[4 * 26 + 1] = {};
    const DWORD size = ::GetLogicalDriveStringsW(DWORD(std::size(roots)), roots);
    for (const wchar_t *root = roots; size && *root; root += wcslen(root) + 1) {
        wchar_t label[MAX_PATH + 1] = {};
        // A drive that is not ready (a card reader without a card) is left out.
        if (!::GetVolumeInformationW(root, label, DWORD(std::size(label)), nullptr, nullptr,
                                     nullptr, nullptr, 0))
            continue;
        result.append(
            {QString::fromWCharArray(root).replace(u'\\', u'/'), QString::fromWCharArray(label)});
    }
    std::sort(result.begin(), result.end(),
              [](const Drive &a, const Drive &b) { return a.root < b.root; });
    return result;
}

} // namespace runtime
