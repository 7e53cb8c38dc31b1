// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Preferences.h"

#include "AtomicFileWriter.h"
#include "BinaryPlist.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kWriteDelayMs = 200;

// The one in-memory form of each stored type, so that a value reads the same before and after a
// restart: integers as qint64, string lists as arrays, hashes as maps, dates in UTC. An element of
// an array or dictionary that has no such form is left out and reported through `damaged`, so that
// one bad element does not cost the good ones beside it.
std::optional<QVariant> normalised(const QVariant &value, bool *damaged = nullptr)
{
    if (value.metaType() == QMetaType::fromType<PlistUid>())
        return value;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Float:
    case QMetaType::Double:
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return value;
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        return QVariant::fromValue<qint64>(value.toLongLong());
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar: {
        const quint64 number = value.toULongLong();
        if (number > quint64(std::numeric_limits<qint64>::max()))
            return QVariant::fromValue<quint64>(number);
        return QVariant::fromValue<qint64>(qint64(number));
    }
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid())
            return std::nullopt;
        return QVariant(date.toUTC());
    }
    case QMetaType::QStringList: {
        QVariantList list;
        for (const QString &text : value.toStringList())
            list.append(text);
        return QVariant(list);
    }
    case QMetaType::QVariantList: {
        QVariantList list;
        for (const QVariant &element : value.toList()) {
            if (std::optional<QVariant> item = normalised(element, damaged))
                list.append(std::move(*item));
            else if (damaged)
                *damaged = true;
            else
                return std::nullopt;
        }
        return QVariant(list);
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        const QVariantMap source =
            value.typeId() == QMetaType::QVariantMap ? value.toMap() : [&value] {
                QVariantMap map;
                const QVariantHash hash = value.toHash();
                for (auto it = hash.cbegin(); it != hash.cend(); ++it)
                    map.insert(it.key(), it.value());
                return map;
            }();
        QVariantMap map;
        for (auto it = source.cbegin(); it != source.cend(); ++it) {
            if (std::optional<QVariant> item = normalised(it.value(), damaged))
                map.insert(it.key(), std::move(*item));
            else if (damaged)
                *damaged = true;
            else
                return std::nullopt;
        }
        return QVariant(map);
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> numberOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1.0 : 0.0;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return value.toDouble();
    default:
        return std::nullopt;
    }
}

// Equal as the file would store them: a float set again over the double it was read back as is
// no change.
bool sameStoredValue(const QVariant &stored, const QVariant &value)
{
    if (stored.typeId() == QMetaType::Double && value.typeId() == QMetaType::Float)
        return stored.toDouble() == double(value.toFloat());
    return stored.metaType() == value.metaType() && stored == value;
}

QString corruptCopyPrefix(const QString &filePath)
{
    return QFileInfo(filePath).fileName() + QStringLiteral(".corrupt-");
}

QString saveProblemText(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Couldn't save your settings: the disk is full");
    case EROFS:
        return QStringLiteral("Couldn't save your settings: the disk is read-only");
    case EACCES:
    case EPERM:
        return QStringLiteral("Couldn't save your settings: no permission to write them");
    default:
        return QStringLiteral("Couldn't save your settings: %1")
            .arg(QString::fromLocal8Bit(std::strerror(error)).toLower());
    }
}

} // namespace

Preferences::Preferences(const QString &filePath, QObject *parent)
    : QObject(parent), m_filePath(filePath)
{
    m_writeTimer.setSingleShot(true);
    m_writeTimer.setInterval(kWriteDelayMs);
    connect(&m_writeTimer, &QTimer::timeout, this, [this] { flush(); });
    m_retryTimer.setInterval(retryIntervalMs);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] { flush(); });

    QByteArray bytes;
    switch (readFile(m_filePath, m_values, bytes)) {
    case Read::Missing:
        break;
    case Read::Good:
        keepLastGoodCopy(bytes);
        break;
    case Read::Unreadable:
        recoverFromUnreadableFile();
        break;
    }
}

Preferences::Read Preferences::readFile(const QString &path, QVariantMap &values, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? Read::Unreadable : Read::Missing;
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Read::Unreadable;
    const std::optional<QVariant> root = BinaryPlist::read(bytes);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return Read::Unreadable;
    // Whatever the file holds is brought to the same forms a set would store.
    const QVariantMap stored = root->toMap();
    QVariantMap result;
    QSet<QString> damaged;
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        bool lost = false;
        if (std::optional<QVariant> value = normalised(it.value(), &lost))
            result.insert(it.key(), std::move(*value));
        else
            lost = true;
        if (lost)
            damaged.insert(it.key());
    }
    values = result;
    m_damagedKeys = damaged;
    return Read::Good;
}

void Preferences::recoverFromUnreadableFile()
{
    const QFileInfo info(m_filePath);
    QDir folder = info.absoluteDir();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = corruptCopyPrefix(m_filePath) + stamp;
    for (int n = 2; folder.exists(aside); ++n)
        aside = corruptCopyPrefix(m_filePath) + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(m_filePath, folder.filePath(aside))) {
        m_mustNotReplace = true;
        m_loadProblem = QStringLiteral("Your settings couldn't be read");
        m_loadProblemDetails =
            QStringLiteral("Wavelark can't read or move the file %1, so it starts with default "
                           "settings and won't save any changes over it.")
                .arg(QDir::toNativeSeparators(m_filePath));
        setSaveProblem(QStringLiteral("Couldn't save your settings: the settings file is "
                                      "unreadable"),
                       QDir::toNativeSeparators(m_filePath));
        return;
    }
    // Older damaged copies go, the newest few stay for whoever wants to look into them.
    QStringList copies = folder.entryList({corruptCopyPrefix(m_filePath) + QLatin1Char('*')},
                                          QDir::Files | QDir::Hidden, QDir::Name);
    while (copies.size() > keptCorruptCopies)
        folder.remove(copies.takeFirst());

    QVariantMap restored;
    QByteArray bytes;
    const QString lastGood = lastGoodPath(m_filePath);
    m_loadProblem = QStringLiteral("Your settings file couldn't be read");
    if (readFile(lastGood, restored, bytes) == Read::Good) {
        m_values = restored;
        m_loadProblemDetails =
            QStringLiteral("Wavelark started from the copy of your settings saved %1. The "
                           "damaged file was kept as %2.")
                .arg(QLocale().toString(QFileInfo(lastGood).lastModified(), QLocale::ShortFormat),
                     QDir::toNativeSeparators(folder.filePath(aside)));
        // The file is gone from its place until the restored values are written back.
        m_dirty = true;
        scheduleWrite();
    } else {
        m_loadProblemDetails =
            QStringLiteral("No earlier copy was found, so Wavelark started with default settings. "
                           "The damaged file was kept as %1.")
                .arg(QDir::toNativeSeparators(folder.filePath(aside)));
    }
}

void Preferences::keepLastGoodCopy(const QByteArray &bytes)
{
    const QString path = lastGoodPath(m_filePath);
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.size() == bytes.size() &&
        existing.readAll() == bytes)
        return;
    AtomicFileWriter::writeFile(path, bytes);
}

Preferences::~Preferences()
{
    if (m_dirty)
        writeFile();
}

QString Preferences::lastGoodPath(const QString &filePath)
{
    return filePath + QStringLiteral(".last-good");
}

QString Preferences::lockPath(const QString &filePath)
{
    const QFileInfo info(filePath);
    return info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral(".lock"));
}

QString Preferences::defaultFilePath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Wavelark/Wavelark.plist");
}

void Preferences::setBool(bool value, const QString &key)
{
    store(key, QVariant(value));
}

void Preferences::setFloat(float value, const QString &key)
{
    store(key, QVariant(value));
}

void Preferences::setDouble(double value, const QString &key)
{
    store(key, QVariant(value));
}

void Preferences::setInteger(qint64 value, const QString &key)
{
    store(key, QVariant::fromValue<qint64>(value));
}

void Preferences::setObject(const QVariant &value, const QString &key)
{
    if (!value.isValid()) {
        removeObjectForKey(key);
        return;
    }
    if (std::optional<QVariant> stored = normalised(value))
        store(key, *stored);
}

void Preferences::removeObjectForKey(const QString &key)
{
    m_damagedKeys.remove(key);
    if (m_values.remove(key) == 0)
        return;
    m_dirty = true;
    scheduleWrite();
}

QVariant Preferences::objectForKey(const QString &key) const
{
    return m_values.value(key);
}

std::optional<QString> Preferences::stringForKey(const QString &key) const
{
    const QVariant value = m_values.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QStringList> Preferences::stringArrayForKey(const QString &key) const
{
    const QVariant value = m_values.value(key);
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList strings;
    for (const QVariant &element : value.toList()) {
        if (element.typeId() != QMetaType::QString)
            return std::nullopt;
        strings.append(element.toString());
    }
    return strings;
}

QStringList Preferences::stringsInArrayForKey(const QString &key, bool *complete) const
{
    const QVariant value = m_values.value(key);
    bool whole = isIntact(key) && (!value.isValid() || value.typeId() == QMetaType::QVariantList);
    QStringList strings;
    for (const QVariant &element : value.toList()) {
        if (element.typeId() == QMetaType::QString)
            strings.append(element.toString());
        else
            whole = false;
    }
    if (complete)
        *complete = whole;
    return strings;
}

std::optional<QVariantList> Preferences::arrayForKey(const QString &key) const
{
    const QVariant value = m_values.value(key);
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    return value.toList();
}

std::optional<QVariantMap> Preferences::dictionaryForKey(const QString &key) const
{
    const QVariant value = m_values.value(key);
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return value.toMap();
}

std::optional<QByteArray> Preferences::dataForKey(const QString &key) const
{
    const QVariant value = m_values.value(key);
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

double Preferences::doubleForKey(const QString &key) const
{
    return numberOf(m_values.value(key)).value_or(0.0);
}

float Preferences::floatForKey(const QString &key) const
{
    return float(doubleForKey(key));
}

bool Preferences::boolForKey(const QString &key) const
{
    return doubleForKey(key) != 0.0;
}

bool Preferences::flush()
{
    m_writeTimer.stop();
    if (!m_dirty)
        return true;
    return writeFile();
}

void Preferences::store(const QString &key, const QVariant &value)
{
    const auto existing = m_values.constFind(key);
    if (existing != m_values.cend() && sameStoredValue(existing.value(), value))
        return;
    m_values.insert(key, value);
    m_damagedKeys.remove(key);
    m_dirty = true;
    scheduleWrite();
}

void Preferences::scheduleWrite()
{
    // Not restarted on later changes: a steady stream of them still reaches the disk.
    if (!m_writeTimer.isActive())
        m_writeTimer.start();
}

bool Preferences::writeFile()
{
    if (m_mustNotReplace)
        return false;
    const std::optional<QByteArray> bytes = BinaryPlist::write(QVariant(m_values));
    if (!bytes)
        return false;
    if (const int error = AtomicFileWriter::writeFile(m_filePath, *bytes)) {
        setSaveProblem(saveProblemText(error),
                       QStringLiteral("Wavelark keeps your changes and saves them as soon as it "
                                      "can (%1).")
                           .arg(QDir::toNativeSeparators(m_filePath)));
        if (!m_retryTimer.isActive())
            m_retryTimer.start();
        return false;
    }
    m_dirty = false;
    m_retryTimer.stop();
    setSaveProblem({}, {});
    return true;
}

void Preferences::setSaveProblem(const QString &problem, const QString &details)
{
    m_saveProblemDetails = details;
    if (problem == m_saveProblem)
        return;
    m_saveProblem = problem;
    Q_EMIT saveProblemChanged(m_saveProblem);
}
