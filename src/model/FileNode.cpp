// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileNode.h"

#include "FilePaths.h"
#include "NameCollator.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

FileNode::FileNode(const QUrl &url, bool isDirectory)
    : m_path(FilePaths::normalized(url)), m_isDirectory(isDirectory)
{}

FileNode::FileNode(NormalizedTag, QString path, bool isDirectory)
    : m_path(std::move(path)), m_isDirectory(isDirectory)
{}

FileNodePtr FileNode::fromNormalizedPath(QString path, bool isDirectory)
{
    // One allocation for the node and its count: a search result list holds a node per hit.
    return std::make_shared<FileNode>(NormalizedTag{}, std::move(path), isDirectory);
}

FileNodePtr FileNode::create(const QUrl &url, bool isDirectory)
{
    return std::make_shared<FileNode>(url, isDirectory);
}

QUrl FileNode::url() const
{
    return QUrl::fromLocalFile(m_path);
}

QString FileNode::name() const
{
    const QString name = FilePaths::lastComponent(m_path);
    return isNote() ? name.mid(1) : name;
}

FileNodePtr FileNode::note(const QString &folder, const QString &text)
{
    const QString prefix = folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
    return fromNormalizedPath(prefix + QChar(u'\0') + text, false);
}

bool FileNode::isNote() const
{
    const qsizetype slash = m_path.lastIndexOf(QLatin1Char('/'));
    return slash >= 0 && slash + 1 < m_path.size() && m_path.at(slash + 1) == QChar(u'\0');
}

const QList<FileNodePtr> &FileNode::children() const
{
    static const QList<FileNodePtr> none;
    return m_loadedChildren ? *m_loadedChildren : none;
}

void FileNode::setChildren(const QList<FileNodePtr> &children)
{
    ++m_generation;
    m_stale = false;
    if (!m_loadedChildren) {
        m_loadedChildren = children;
        return;
    }
    QHash<QString, FileNodePtr> known;
    known.reserve(m_loadedChildren->size());
    for (const FileNodePtr &child : std::as_const(*m_loadedChildren)) {
        if (child->isLoaded())
            known.insert(child->path(), child);
    }
    QList<FileNodePtr> merged = children;
    if (!known.isEmpty()) {
        for (FileNodePtr &child : merged) {
            const FileNodePtr old = known.value(child->path());
            if (old && old->isDirectory() == child->isDirectory())
                child = old;
        }
    }
    m_loadedChildren = std::move(merged);
}

void FileNode::markStale()
{
    if (!m_loadedChildren)
        return;
    ++m_generation;
    m_stale = true;
    for (const FileNodePtr &child : std::as_const(*m_loadedChildren))
        child->markStale();
}

void FileNode::unloadChildren()
{
    ++m_generation;
    m_stale = false;
    if (!m_loadedChildren)
        return;
    for (const FileNodePtr &child : std::as_const(*m_loadedChildren))
        child->unloadChildren();
    m_loadedChildren.reset();
}

const QStringList &FileNode::audioExtensions()
{
    static const QStringList extensions{
        QStringLiteral("wav"),  QStringLiteral("wave"), QStringLiteral("aif"),
        QStringLiteral("aiff"), QStringLiteral("aifc"), QStringLiteral("caf"),
        QStringLiteral("mp3"),  QStringLiteral("m4a"),  QStringLiteral("aac"),
        QStringLiteral("mp4"),  QStringLiteral("flac"), QStringLiteral("au"),
        QStringLiteral("snd"),  QStringLiteral("ogg"),  QStringLiteral("oga")};
    return extensions;
}

bool FileNode::isAudioFileName(QStringView name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot == name.size() - 1)
        return false;
    const QStringView extension = name.mid(dot + 1);
    if (extension.size() > 4)
        return false;
    for (const QString &candidate : audioExtensions()) {
        if (extension.compare(candidate, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

FileNode::Listing FileNode::listFolder(const QString &folder)
{
    struct Listed
    {
        QCollatorSortKey key;
        FileNodePtr node;
    };
    std::vector<Listed> listed;
    std::vector<const Listed *> order;
    const QByteArray encoded = FilePaths::encoded(folder);
    DIR *dir = ::opendir(encoded.constData());
    if (!dir) {
        switch (errno) {
        case EACCES:
        case EPERM:
            // A folder that exists but may not be read says so instead of looking empty.
            return {Listing::Outcome::NotPermitted,
                    {note(folder, QStringLiteral("No permission to read this folder"))}};
        case ENOENT:
        case ENOTDIR:
        case ELOOP:
        case ENAMETOOLONG:
            return {Listing::Outcome::Missing, {}};
        default:
            return {Listing::Outcome::Failed, {}};
        }
    }
    const NameCollator &collator = NameCollator::instance();
    const QString prefix = folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        if (entry->d_name[0] == '.')
            continue; // hidden, and the "." and ".." entries
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isDirectory = ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISDIR(st.st_mode);
        }
        const QString name = FilePaths::decoded(entry->d_name);
        if (!isDirectory && !isAudioFileName(name))
            continue;
        listed.push_back({collator.sortKey(name), fromNormalizedPath(prefix + name, isDirectory)});
    }
    // A share that drops the connection half way through ends the listing early with an error:
    // a part of a folder shown as the whole would hide samples.
    const bool cutShort = errno != 0;
    ::closedir(dir);
    if (cutShort)
        return {Listing::Outcome::Failed, {}};

    // A folder of thousands of samples is listed while the user waits for it to open: each name
    // gets its collation key once instead of being collated again in every comparison, and the
    // sort moves pointers, not keys.
    order.reserve(listed.size());
    for (const Listed &entry : listed)
        order.push_back(&entry);
    std::stable_sort(order.begin(), order.end(), [](const Listed *a, const Listed *b) {
        if (a->node->isDirectory() != b->node->isDirectory())
            return a->node->isDirectory();
        return a->key.compare(b->key) < 0;
    });
    Listing result{Listing::Outcome::Listed, {}};
    result.nodes.reserve(qsizetype(order.size()));
    for (const Listed *entry : order)
        result.nodes.append(entry->node);
    return result;
}

bool operator==(const FileNode &a, const FileNode &b)
{
    return a.path() == b.path();
}

size_t qHash(const FileNode &node, size_t seed) noexcept
{
    return qHash(node.path(), seed);
}

bool sameNodes(const QList<FileNodePtr> &a, const QList<FileNodePtr> &b)
{
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(),
        [](const FileNodePtr &x, const FileNodePtr &y) { return x == y || *x == *y; });
}
