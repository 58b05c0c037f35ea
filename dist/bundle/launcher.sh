#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts Quillmere from its program folder, where it finds its car list and its own Qt.
# Plugin folders of a Qt on the host are not searched: their plugins belong to another Qt.
launcher=$(readlink -f "$0")
prefix=${launcher%/*/*}
unset QT_PLUGIN_PATH QT_QPA_PLATFORM_PLUGIN_PATH
exec "$prefix/lib/quillmere/quillmere" "$@"
