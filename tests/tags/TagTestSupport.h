#pragma once

#include "tags/FinderTagsIO.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Fixtures for the tag tests: attributes written and read by Python (an independent plist codec)
// or by the raw system calls, and files made unwritable for the duration of a test.
namespace TagTestSupport {

inline const QString tagAttribute = QString::fromLatin1(FinderTagsIO::attributeName);

// Python's plistlib writes `strings` ("binary" or "xml" format) into attribute `name`, followed
// by `suffix` (bytes appended after the plist).
bool setPythonPlist(const QString &path, const QStringList &strings,
                    const QString &format = QStringLiteral("binary"),
                    const QString &name = tagAttribute, const QByteArray &suffix = {});
// The strings Python's plistlib reads from the attribute; nothing when absent or not a binary
// plist of strings.
std::optional<QStringList> pythonStrings(const QString &path, const QString &name = tagAttribute);

bool setRawAttribute(const QString &path, const QString &name, const QByteArray &value);
std::optional<QByteArray> rawAttribute(const QString &path, const QString &name = tagAttribute);
bool userAttributesWork(const QString &folder);

// "name\tindex" per entry, line feeds shown as \n: readable in a failed comparison.
QStringList describe(const QList<FinderTagsIO::Entry> &entries);

// A bplist00 document from hand-made object bytes (1-byte offsets and references), for inputs no
// writer would produce.
QByteArray handMadePlist(const QByteArray &objects, const QList<int> &offsets, quint64 top,
                         int refSize = 1);

// Makes a file refuse attribute writes (a mode of 0444, or the immutable flag where the tests run
// as root) until destroyed.
class Unwritable final
{
public:
    explicit Unwritable(const QString &path);
    ~Unwritable();
    Unwritable(const Unwritable &) = delete;
    Unwritable &operator=(const Unwritable &) = delete;

    bool ok() const { return m_ok; }

private:
    QString m_path;
    bool m_immutable = false;
    bool m_ok = false;
};

} // namespace TagTestSupport
