#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs Quillmere from this unpacked folder into ~/.local, without root:
#   ~/.local/bin/quillmere                 the launcher
#   ~/.local/lib/quillmere/                the program with its own Qt
#   ~/.local/etc/quillmere/cars.txt        the car list, to edit (kept when installing again)
#   ~/.local/share/applications, icons/hicolor, metainfo: the menu entry, its icon, metainfo
#   ~/.local/share/man/man1/quillmere.1.gz the manual page
#   ~/.local/share/doc/quillmere/          the licences (licenses/) and where the sources
#                                          are (SOURCES)
# ./install.sh --uninstall (or ~/.local/lib/quillmere/install.sh --uninstall) removes all of
# it again, the car list included, and the folders the install made.
set -euo pipefail

usage() {
    echo "Usage: $0             install Quillmere into ~/.local"
    echo "       $0 --uninstall remove it from ~/.local again"
}

prefix=$HOME/.local
program=$prefix/lib/quillmere
# What the install wrote: "f PATH" for each file or link, "d PATH" for each folder it made.
manifest=$program/installed-files
car_list=etc/quillmere/cars.txt

# Where a file or folder of the unpacked folder goes: the notices beside install.sh into
# the documents' folder, everything else to the same place under the prefix.
target_of() {
    case $1 in
        licenses | licenses/* | SOURCES) printf '%s/share/doc/quillmere/%s' "$prefix" "$1" ;;
        .) printf '%s' "$prefix" ;;
        *) printf '%s/%s' "$prefix" "$1" ;;
    esac
}

# Makes a folder and those above it that are missing, adding each it made to the caller's
# array "made".
make_folder() {
    [ ! -d "$1" ] || return 0
    make_folder "$(dirname "$1")"
    mkdir "$1"
    made+=("$1")
}

# Quotes a path for an Exec= line of a menu entry: double quotes, a backslash before ", `, $
# and \, each backslash then doubled as the entry's string escaping asks, and % doubled.
exec_quote() {
    local s=$1
    s=${s//\\/\\\\}
    s=${s//\"/\\\"}
    s=${s//\`/\\\`}
    s=${s//\$/\\\$}
    s=${s//\\/\\\\}
    s=${s//%/%%}
    printf '"%s"' "$s"
}

install_bundle() {
    local src
    src=$(cd "$(dirname "$0")" && pwd -P)
    if [ ! -x "$src/lib/quillmere/quillmere" ] || [ ! -f "$src/$car_list" ]; then
        echo "$0: run the install.sh of an unpacked quillmere-*-x86_64 folder" >&2
        exit 1
    fi
    [ "$src" != "$(cd "$prefix" 2>/dev/null && pwd -P)" ] ||
        { echo "$0: this is the installed copy already" >&2; exit 1; }

    # An earlier install goes first, all but its car list; the folders it made stay the
    # install's own.
    local -a made=() files=()
    local entry
    if [ -f "$manifest" ]; then
        while read -r entry; do
            case $entry in
                "d "*) made+=("${entry#d }") ;;
                "f $prefix/$car_list") ;;
                "f "*) rm -f "${entry#f }" ;;
            esac
        done <"$manifest"
    fi
    local rel
    while read -r rel; do
        make_folder "$(target_of "${rel#./}")"
    done < <(printf '.\n'; cd "$src" && find . -mindepth 1 -type d | sort)

    local target exec_path line kept=
    exec_path=$(exec_quote "$prefix/bin/quillmere")
    while read -r rel; do
        rel=${rel#./}
        target=$(target_of "$rel")
        [ "$rel" != install.sh ] || continue
        files+=("$target")
        if [ "$rel" = "$car_list" ] && [ -e "$target" ]; then
            kept=$target
            continue
        fi
        rm -f "$target"
        if [[ $rel == share/applications/*.desktop ]]; then
            # Every command line of the entry starts the installed launcher.
            while IFS= read -r line || [ -n "$line" ]; do
                if [[ $line == Exec=quillmere || $line == "Exec=quillmere "* ]]; then
                    line=Exec=$exec_path${line#Exec=quillmere}
                fi
                printf '%s\n' "$line"
            done <"$src/$rel" >"$target"
        else
            cp -P "$src/$rel" "$target"
        fi
    done < <(cd "$src" && find . -mindepth 1 ! -type d | sort)
    # The installed copy of this script uninstalls.
    cp "$src/install.sh" "$program/install.sh"
    files+=("$program/install.sh" "$manifest")

    {
        [ ${#made[@]} -eq 0 ] || printf 'd %s\n' "${made[@]}" | sort -u
        printf 'f %s\n' "${files[@]}" | sort -u
    } >"$manifest"

    # A desktop whose icon cache in ~/.local is stale would not show the new icon.
    if [ -f "$prefix/share/icons/hicolor/icon-theme.cache" ] &&
        command -v gtk-update-icon-cache >/dev/null; then
        gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" || true
    fi
    update_file_types

    echo "Quillmere is installed in $program: start «Quillmere» from the menu, or $prefix/bin/quillmere."
    if [ -n "$kept" ]; then
        echo "The car list $kept is kept as it was."
    else
        echo "The car list is $prefix/$car_list: edit it for your game."
    fi
    case ":$PATH:" in
        *":$prefix/bin:"*) ;;
        *) echo "$prefix/bin is not in PATH: start it from the menu or by its full path." ;;
    esac
    echo "To remove it: $program/install.sh --uninstall"
}

# The desktop learns the type of the model files, and which entry opens what.
update_file_types() {
    if command -v update-mime-database >/dev/null && [ -d "$prefix/share/mime" ]; then
        update-mime-database "$prefix/share/mime" || true
    fi
    if command -v update-desktop-database >/dev/null &&
        [ -f "$prefix/share/applications/mimeinfo.cache" ]; then
        update-desktop-database -q "$prefix/share/applications" || true
    fi
}

uninstall_bundle() {
    if [ ! -f "$manifest" ]; then
        echo "$0: Quillmere is not installed in $prefix (no $manifest)" >&2
        exit 1
    fi
    local -a entries=() left=()
    mapfile -t entries <"$manifest"
    local entry
    for entry in "${entries[@]}"; do
        [[ $entry == "f "* ]] && rm -f "${entry#f }"
    done
    # The deepest folders first; a folder that holds something else stays.
    while read -r entry; do
        rmdir "$entry" 2>/dev/null || { [ -d "$entry" ] && left+=("$entry"); }
    done < <(printf '%s\n' "${entries[@]}" | sed -n 's/^d //p' | awk '{print length, $0}' |
             sort -rn | cut -d' ' -f2-)
    update_file_types
    echo "Quillmere is removed from $prefix."
    if [ ${#left[@]} -gt 0 ]; then
        printf 'Kept, as it holds files that are not Quillmere'"'"'s: %s\n' "${left[@]}"
    fi
}

case "${1:-}" in
    "") install_bundle ;;
    --uninstall) uninstall_bundle ;;
    -h | --help) usage ;;
    *) usage >&2; exit 2 ;;
esac
