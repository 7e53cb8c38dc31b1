// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TagFixtures.h"

#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <sys/xattr.h>

namespace TagFixtures {

bool setPythonPlist(const QString &path, const QStringList &strings, const QString &format,
                    const QString &name, const QByteArray &suffix)
{
    const QString script = QStringLiteral(R"(
import json, os, plistlib, sys
path, name, fmt, payload, suffix = sys.argv[1:6]
kind = plistlib.FMT_BINARY if fmt == 'binary' else plistlib.FMT_XML
os.setxattr(path, name, plistlib.dumps(json.loads(payload), fmt=kind) + bytes.fromhex(suffix))
)");
    const QByteArray json = QJsonDocument(QJsonArray::fromStringList(strings)).toJson();
    return TestSupport::python(script, {path, name, format, QString::fromUtf8(json),
                                        QString::fromLatin1(suffix.toHex())})
               .exitCode == 0;
}

std::optional<QStringList> pythonStrings(const QString &path, const QString &name)
{
    const QString script = QStringLiteral(R"(
import json, os, plistlib, sys
data = os.getxattr(sys.argv[1], sys.argv[2])
assert data.startswith(b'bplist00')
value = plistlib.loads(data)
assert isinstance(value, list) and all(isinstance(s, str) for s in value)
sys.stdout.write(json.dumps(value))
)");
    const TestSupport::ProcessResult result = TestSupport::python(script, {path, name});
    if (result.exitCode != 0)
        return std::nullopt;
    QStringList strings;
    for (const QJsonValue &value : QJsonDocument::fromJson(result.out).array())
        strings.append(value.toString());
    return strings;
}

bool setRawAttribute(const QString &path, const QString &name, const QByteArray &value)
{
    return ::setxattr(QFile::encodeName(path).constData(), name.toUtf8().constData(),
                      value.constData(), size_t(value.size()), 0) == 0;
}

std::optional<QByteArray> rawAttribute(const QString &path, const QString &name)
{
    const QByteArray file = QFile::encodeName(path);
    const QByteArray attribute = name.toUtf8();
    QByteArray value(64 * 1024, '\0');
    const ssize_t read =
        ::getxattr(file.constData(), attribute.constData(), value.data(), size_t(value.size()));
    if (read < 0)
        return std::nullopt;
    value.truncate(read);
    return value;
}

} // namespace TagFixtures
