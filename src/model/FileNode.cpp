#include "FileNode.h"

#include "FilePaths.h"
#include "NameCollator.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

FileNode::FileNode(const QUrl &url, bool isDirectory)
    : m_path(FilePaths::normalized(url)), m_isDirectory(isDirectory)
{}

FileNode::FileNode(NormalizedTag, QString path, bool isDirectory)
    : m_path(std::move(path)), m_isDirectory(isDirectory)
{}

FileNodePtr FileNode::fromNormalizedPath(QString path, bool isDirectory)
{
    return std::shared_ptr<FileNode>(new FileNode(NormalizedTag{}, std::move(path), isDirectory));
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
    return FilePaths::lastComponent(m_path);
}

const QList<FileNodePtr> &FileNode::children()
{
    if (!m_loadedChildren)
        m_loadedChildren = m_isDirectory ? list(m_path) : QList<FileNodePtr>{};
    return *m_loadedChildren;
}

void FileNode::unloadChildren()
{
    if (!m_loadedChildren)
        return;
    for (const FileNodePtr &child : *m_loadedChildren)
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

QList<FileNodePtr> FileNode::list(const QString &folder)
{
    QList<FileNodePtr> nodes;
    const QByteArray encoded = QFile::encodeName(folder);
    DIR *dir = ::opendir(encoded.constData());
    if (!dir)
        return nodes;
    const QString prefix = folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue; // hidden, and the "." and ".." entries
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isDirectory = ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISDIR(st.st_mode);
        }
        const QString name = QFile::decodeName(entry->d_name);
        if (!isDirectory && !isAudioFileName(name))
            continue;
        nodes.append(fromNormalizedPath(prefix + name, isDirectory));
    }
    ::closedir(dir);

    const NameCollator &collator = NameCollator::instance();
    std::stable_sort(nodes.begin(), nodes.end(), [&](const FileNodePtr &a, const FileNodePtr &b) {
        if (a->isDirectory() != b->isDirectory())
            return a->isDirectory();
        return collator.compare(a->name(), b->name()) < 0;
    });
    return nodes;
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
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const FileNodePtr &x, const FileNodePtr &y) { return *x == *y; });
}
