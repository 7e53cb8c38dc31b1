#include "Preferences.h"

#include "BinaryPlist.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

constexpr int kWriteDelayMs = 200;

// The one in-memory form of each stored type, so that a value reads the same before and after a
// restart: integers as qint64, string lists as arrays, hashes as maps, dates in UTC.
std::optional<QVariant> normalised(const QVariant &value)
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
            std::optional<QVariant> item = normalised(element);
            if (!item)
                return std::nullopt;
            list.append(std::move(*item));
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
            std::optional<QVariant> item = normalised(it.value());
            if (!item)
                return std::nullopt;
            map.insert(it.key(), std::move(*item));
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

} // namespace

Preferences::Preferences(const QString &filePath, QObject *parent)
    : QObject(parent), m_filePath(filePath)
{
    m_writeTimer.setSingleShot(true);
    m_writeTimer.setInterval(kWriteDelayMs);
    connect(&m_writeTimer, &QTimer::timeout, this, [this] { flush(); });

    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    const std::optional<QVariant> root = BinaryPlist::read(bytes);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return;
    // Whatever the file holds is brought to the same forms a set would store.
    const QVariantMap stored = root->toMap();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        if (std::optional<QVariant> value = normalised(it.value()))
            m_values.insert(it.key(), std::move(*value));
    }
}

Preferences::~Preferences()
{
    if (m_dirty)
        writeFile();
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
    if (writeFile())
        return true;
    Q_EMIT writeFailed(m_filePath);
    return false;
}

void Preferences::store(const QString &key, const QVariant &value)
{
    m_values.insert(key, value);
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
    const std::optional<QByteArray> bytes = BinaryPlist::write(QVariant(m_values));
    if (!bytes)
        return false;
    if (!QDir().mkpath(QFileInfo(m_filePath).absolutePath()))
        return false;
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size() || !file.commit()) {
        return false;
    }
    m_dirty = false;
    return true;
}
