// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/archivetree.h"

#include "runtime/error.h"
#include "runtime/hostpath.h"
#include "runtime/listing.h"

using namespace Qt::StringLiterals;

namespace archives {

bool isArchiveName(QStringView name)
{
    for (const auto extension : {u".zip", u".7z", u".rar"}) {
        if (name.endsWith(QStringView(extension), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

std::optional<ArchivePlace> locate(const QString &path, const runtime::HostPaths &host,
                                   runtime::FolderIndex &folders)
{
    const runtime::SplitPath split = runtime::splitPath(path, host);
    for (qsizetype count = 1; count <= split.components.size(); ++count) {
        if (!isArchiveName(split.components[count - 1]))
            continue;
        const auto file = runtime::resolveComponents(split, folders, count);
        if (!file)
            return std::nullopt;
        if (!runtime::isOrdinaryFile(folders.files(), *file))
            continue; // a folder so named
        return ArchivePlace{*file, runtime::shownPath(runtime::decodeName(*file), host.style),
                            split.components.mid(count), split.trailingSeparator};
    }
    return std::nullopt;
}

ArchiveTree::ArchiveTree(const QList<Member> &members)
{
    m_nodes.push_back({});
    for (const Member &m : members) {
        if (m.components.isEmpty() || m.kind == Member::Other)
            continue;
        int node = 0;
        const qsizetype folders = m.components.size() - (m.kind == Member::File ? 1 : 0);
        for (qsizetype i = 0; i < folders; ++i)
            node = add(node, m.components[i], -1);
        if (m.kind == Member::File)
            add(node, m.components.back(), m.index);
    }
}

// The child of `parent` named exactly `name`, made where there is none; a file's takes the
// member given.
int ArchiveTree::add(int parent, const QString &name, int member)
{
    std::vector<int> &same = m_nodes[std::size_t(parent)].children[runtime::caseKey(name)];
    for (const int node : same) {
        if (m_nodes[std::size_t(node)].name == name) {
            if (member >= 0 || m_nodes[std::size_t(node)].member < 0)
                m_nodes[std::size_t(node)].member = member;
            return node;
        }
    }
    m_nodes.push_back({name, member, {}});
    const int node = int(m_nodes.size() - 1);
    m_nodes[std::size_t(parent)].children[runtime::caseKey(name)].push_back(node);
    return node;
}

std::optional<int> ArchiveTree::child(int node, const QString &name, const QString &shown) const
{
    const auto &children = m_nodes[std::size_t(node)].children;
    const auto same = children.constFind(runtime::caseKey(name));
    if (same == children.cend())
        return std::nullopt;
    for (const int c : *same) {
        if (m_nodes[std::size_t(c)].name == name)
            return c;
    }
    if (same->size() > 1)
        runtime::raise(runtime::ErrorKind::AmbiguousName, runtime::Operation::Resolve, shown, name);
    return same->front();
}

std::optional<int> ArchiveTree::find(const QStringList &components, const QString &shown) const
{
    int node = 0;
    for (const QString &name : components) {
        if (m_nodes[std::size_t(node)].member >= 0)
            return std::nullopt; // a file is no folder
        const auto next = child(node, name, shown);
        if (!next)
            return std::nullopt;
        node = *next;
    }
    return m_nodes[std::size_t(node)].member;
}

QStringList ArchiveTree::files(const QStringList &folder, const QString &pattern,
                               const QString &shown) const
{
    int node = 0;
    for (const QString &name : folder) {
        const auto next = child(node, name, shown);
        if (!next || m_nodes[std::size_t(*next)].member >= 0)
            return {};
        node = *next;
    }
    const runtime::Wildcard wildcard(pattern);
    QStringList found;
    for (const auto &same : m_nodes[std::size_t(node)].children) {
        for (const int c : same) {
            const Node &n = m_nodes[std::size_t(c)];
            if (n.member >= 0 && !n.name.startsWith(u'.') &&
                (pattern.isEmpty() || wildcard.matches(n.name)))
                found.append(n.name);
        }
    }
    runtime::sortCaseBlind(found);
    return found;
}

} // namespace archives
