#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Tag attributes written and read by Python's plistlib (an independent plist codec) or by the
// raw system calls, and files made unwritable for the duration of a test.
namespace TagFixtures {

// Spelled out here rather than taken from the code under test, so that a wrong name fails.
inline const QString tagAttribute = QStringLiteral("user.com.apple.metadata:_kMDItemUserTags");
inline const QString xdgAttribute = QStringLiteral("user.xdg.tags");
inline const QString sambaAttribute =
    QStringLiteral("user.DosStream.com.apple.metadata:_kMDItemUserTags:$DATA");

// plistlib writes `strings` ("binary" or "xml" format) into attribute `name`, followed by
// `suffix`.
bool setPythonPlist(const QString &path, const QStringList &strings,
                    const QString &format = QStringLiteral("binary"),
                    const QString &name = tagAttribute, const QByteArray &suffix = {});
// What plistlib reads from the attribute; nothing when absent or not a binary list of strings.
std::optional<QStringList> pythonStrings(const QString &path, const QString &name = tagAttribute);

bool setRawAttribute(const QString &path, const QString &name, const QByteArray &value);
std::optional<QByteArray> rawAttribute(const QString &path, const QString &name = tagAttribute);
bool userAttributesWork(const QString &folder);

// A bplist00 document from hand-made object bytes (1-byte offsets), for inputs no writer makes.
QByteArray handMadePlist(const QByteArray &objects, const QList<int> &offsets, quint64 top);

// Makes a file refuse attribute writes (mode 0444, or the immutable flag when running as root)
// until destroyed.
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

} // namespace TagFixtures
