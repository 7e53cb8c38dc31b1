#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <optional>

// The per-user preferences store: typed values kept as a binary property list. Every object that
// keeps settings is handed one by reference, so tests use stores on temporary files.
//
// Values are QVariants of these types: bool, float, double, qint64, QString, QByteArray (data),
// QVariantList (array), QVariantMap (dictionary, string keys), QDateTime. Typed reads of a value of
// another type read as absent, exactly like a missing key.
class Preferences final : public QObject
{
    Q_OBJECT
public:
    // Loads `filePath` synchronously; a missing or corrupt file reads as empty and is left alone
    // until the first real change.
    explicit Preferences(const QString &filePath, QObject *parent = nullptr);
    ~Preferences() override; // writes pending changes
    Q_DISABLE_COPY_MOVE(Preferences)

    // $XDG_CONFIG_HOME/Wavelark/Wavelark.plist (~/.config/... when unset).
    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    void setBool(bool value, const QString &key);
    void setFloat(float value, const QString &key);
    void setDouble(double value, const QString &key);
    void setInteger(qint64 value, const QString &key);
    // Strings, string lists (stored as arrays), arrays, dictionaries and data.
    void setObject(const QVariant &value, const QString &key);
    void removeObjectForKey(const QString &key);

    // Presence test: an invalid QVariant when the key is missing.
    QVariant objectForKey(const QString &key) const;
    std::optional<QString> stringForKey(const QString &key) const;
    // An array whose every element is a string.
    std::optional<QStringList> stringArrayForKey(const QString &key) const;
    std::optional<QVariantList> arrayForKey(const QString &key) const;
    std::optional<QVariantMap> dictionaryForKey(const QString &key) const;
    std::optional<QByteArray> dataForKey(const QString &key) const;
    // Numbers (and booleans) read as numbers; anything else or nothing reads as 0 / false.
    double doubleForKey(const QString &key) const;
    float floatForKey(const QString &key) const;
    bool boolForKey(const QString &key) const;

    // Writes now when something changed since the last write; true when the file is up to date.
    bool flush();

Q_SIGNALS:
    // A write failed (disk full, no permission); the values stay in memory and are retried on the
    // next change.
    void writeFailed(const QString &filePath);

private:
    void store(const QString &key, const QVariant &value);
    void scheduleWrite();
    bool writeFile();

    QString m_filePath;
    QVariantMap m_values;
    bool m_dirty = false;
    QTimer m_writeTimer;
};
