#include "IndexBuilder.h"

#include "FileNode.h"
#include "FilePaths.h"
#include "Fold.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

bool isAudioName(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot - 1 > 4 || dot + 1 == name.size())
        return false;
    char extension[5] = {};
    const std::string_view raw = name.substr(dot + 1);
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        extension[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    static const char *const known[] = {"wav", "wave", "aif",  "aiff", "aifc", "caf", "mp3", "m4a",
                                        "aac", "mp4",  "flac", "au",   "snd",  "ogg", "oga"};
    for (const char *candidate : known) {
        if (std::string_view(extension) == candidate)
            return true;
    }
    return false;
}

bool isValidUtf8(std::string_view text)
{
    return QUtf8StringView(text.data(), static_cast<qsizetype>(text.size())).isValidUtf8();
}

class Walker final
{
public:
    Walker(const CancelFlag &flag, SampleIndex::Builder &builder) : m_flag(flag), m_builder(builder)
    {}

    // Returns false once cancelled.
    bool walkRoot(const std::string &root)
    {
        std::vector<std::string> pending{root};
        std::string path;
        while (!pending.empty()) {
            std::string folder = std::move(pending.back());
            pending.pop_back();
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0)
                continue;
            DIR *dir = ::fdopendir(fd);
            if (!dir) {
                ::close(fd);
                continue;
            }
            // Subfolders are visited in listing order after the files of this folder.
            std::vector<std::string> subfolders;
            while (const dirent *entry = ::readdir(dir)) {
                const char *name = entry->d_name;
                if (name[0] == '.')
                    continue;
                if (++m_counter % 1024 == 0 && m_flag.isCancelled()) {
                    ::closedir(dir);
                    return false;
                }
                unsigned char type = entry->d_type;
                if (type == DT_UNKNOWN) {
                    struct stat st;
                    if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                        type = DT_REG; // unreadable flag: keep the item, as documented
                    else if (S_ISDIR(st.st_mode))
                        type = DT_DIR;
                    else if (S_ISREG(st.st_mode))
                        type = DT_REG;
                    else
                        type = DT_LNK;
                }
                path.assign(folder);
                if (path.back() != '/')
                    path.push_back('/');
                path.append(name);
                if (type == DT_DIR) {
                    subfolders.push_back(path);
                    continue;
                }
                const std::string_view nameView(name);
                if (type != DT_REG || !isAudioName(nameView))
                    continue;
                append(path, nameView);
            }
            ::closedir(dir);
            for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
                pending.push_back(std::move(*it));
        }
        return true;
    }

private:
    void append(const std::string &path, std::string_view name)
    {
        m_folded.clear();
        if (isValidUtf8(path)) {
            foldUtf8(name, m_folded);
            m_builder.append(path, m_folded);
            return;
        }
        // Names that are not UTF-8 are kept with replacement characters; such a file cannot be
        // opened again by that name, but it is found by search like any other.
        const QByteArray cleanPath =
            QString::fromUtf8(path.data(), qsizetype(path.size())).toUtf8();
        const QByteArray cleanName =
            QString::fromUtf8(name.data(), qsizetype(name.size())).toUtf8();
        foldUtf8(std::string_view(cleanName.constData(), size_t(cleanName.size())), m_folded);
        m_builder.append(std::string_view(cleanPath.constData(), size_t(cleanPath.size())),
                         m_folded);
    }

    const CancelFlag &m_flag;
    SampleIndex::Builder &m_builder;
    quint64 m_counter = 0;
    std::string m_folded;
};

} // namespace

std::shared_ptr<SampleIndex> IndexBuilder::buildIndex(const QStringList &rootPaths,
                                                      const CancelFlag &flag)
{
    SampleIndex::Builder builder;
    Walker walker(flag, builder);
    for (const QString &root : rootPaths) {
        const QByteArray encoded = QFile::encodeName(FilePaths::normalized(root));
        if (!walker.walkRoot(std::string(encoded.constData(), size_t(encoded.size()))))
            break;
    }
    return builder.finish();
}
