// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class FileNode;
using FileNodePtr = std::shared_ptr<FileNode>;

// One item of the folder tree: a folder, or an audio file. Folder contents are listed by the
// tree's background lister and kept here until unloaded. Identity, equality and hashing are those
// of the normalised URL. Used on the main thread only (search results may be created and compared
// elsewhere, then handed over; a node's path never changes).
class FileNode final
{
    struct NormalizedTag
    {};

public:
    FileNode(const QUrl &url, bool isDirectory);
    FileNode(NormalizedTag, QString path, bool isDirectory);
    // From a path that is already normalised; no work beyond storing it.
    static FileNodePtr fromNormalizedPath(QString path, bool isDirectory);
    static FileNodePtr create(const QUrl &url, bool isDirectory);
    Q_DISABLE_COPY_MOVE(FileNode)

    QUrl url() const;
    const QString &path() const { return m_path; }
    QString name() const;
    bool isDirectory() const { return m_isDirectory; }

    // A line inside a folder that says why nothing of it can be shown ("No permission to read
    // this folder"): no item on disk, never selected, played or tagged. Its path is the folder's
    // with a name no file can have (it starts with a NUL character).
    static FileNodePtr note(const QString &folder, const QString &text);
    bool isNote() const;

    // What one reading of a folder gave. Made off the GUI thread: a share may answer late.
    struct Listing
    {
        enum class Outcome
        {
            Listed,
            NotPermitted, // exists, may not be read: a note row says so
            Missing,      // gone, or no folder: nothing to show
            Failed,       // the share failed to answer (EIO, a timeout): worth asking again
        };
        Outcome outcome = Outcome::Missing;
        QList<FileNodePtr> nodes; // sorted as the tree shows them, notes included
    };
    static Listing listFolder(const QString &folder);

    // The listing brought back last; empty until one arrived, and always for a file.
    const QList<FileNodePtr> &children() const;
    bool isLoaded() const { return m_loadedChildren.has_value(); }
    // Loaded, but the folder may have changed since: it is shown as it was until read again.
    bool isStale() const { return m_stale; }
    // Grows with every change of what is known of the contents, so that a listing read before
    // the change is recognised when it arrives.
    quint64 generation() const { return m_generation; }
    // Takes a fresh listing. An entry that was there before keeps its node, with what is known
    // below it, so that open folders stay open and shown while they are read again.
    void setChildren(const QList<FileNodePtr> &children);
    // This node and every loaded node below it are to be read again.
    void markStale();
    // Forgets the cached contents of this node and of every loaded node below it.
    void unloadChildren();

    // The 15 lower-case extensions that are listed and indexed; the first 13 can be previewed.
    static const QStringList &audioExtensions();
    static bool isAudioFileName(QStringView name);

private:
    const QString m_path;
    bool m_isDirectory;
    bool m_stale = false;
    quint64 m_generation = 0;
    std::optional<QList<FileNodePtr>> m_loadedChildren;
};

bool operator==(const FileNode &a, const FileNode &b);
size_t qHash(const FileNode &node, size_t seed = 0) noexcept;
// Lists of nodes compare element by element, by URL.
bool sameNodes(const QList<FileNodePtr> &a, const QList<FileNodePtr> &b);

Q_DECLARE_METATYPE(FileNodePtr)
