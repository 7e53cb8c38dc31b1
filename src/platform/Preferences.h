// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSet>
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
//
// What the user made is never lost to a bad file or a bad disk: a file that cannot be read is
// moved aside, never overwritten, and the store starts from the copy kept after the last good read;
// an element of a list or dictionary that cannot be read costs only itself; a save that fails
// leaves the old file whole, keeps the values in memory and is tried again until it succeeds.
class Preferences final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString saveProblem READ saveProblem NOTIFY saveProblemChanged)
public:
    // Loads `filePath` synchronously; a missing file reads as empty.
    explicit Preferences(const QString &filePath, QObject *parent = nullptr);
    ~Preferences() override; // writes pending changes
    Q_DISABLE_COPY_MOVE(Preferences)

    // $XDG_CONFIG_HOME/Wavelark/Wavelark.plist (~/.config/... when unset).
    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }
    // Beside the file: the copy of the last file that read well, and the lock of its one writer.
    static QString lastGoodPath(const QString &filePath);
    static QString lockPath(const QString &filePath);

    // What the user should be told once about the file found at start, empty when it read well:
    // where the unreadable file went and what the store started from.
    QString loadProblem() const { return m_loadProblem; }
    QString loadProblemDetails() const { return m_loadProblemDetails; }
    // Why the latest save failed ("Couldn't save your settings: the disk is full"); empty once a
    // save succeeds.
    QString saveProblem() const { return m_saveProblem; }
    QString saveProblemDetails() const { return m_saveProblemDetails; }

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
    // The strings of an array, skipping elements of other types; `complete` tells whether the
    // value was an array that the file held whole and that had nothing but strings.
    QStringList stringsInArrayForKey(const QString &key, bool *complete = nullptr) const;
    // False when reading the file dropped an element of this key's value that could not be read.
    bool isIntact(const QString &key) const { return !m_damagedKeys.contains(key); }
    std::optional<QVariantList> arrayForKey(const QString &key) const;
    std::optional<QVariantMap> dictionaryForKey(const QString &key) const;
    std::optional<QByteArray> dataForKey(const QString &key) const;
    // Numbers (and booleans) read as numbers; anything else or nothing reads as 0 / false.
    double doubleForKey(const QString &key) const;
    float floatForKey(const QString &key) const;
    bool boolForKey(const QString &key) const;

    // Writes now when something changed since the last write; true when the file is up to date.
    bool flush();

    static constexpr int retryIntervalMs = 5000;
    static constexpr int keptCorruptCopies = 3;

Q_SIGNALS:
    void saveProblemChanged(const QString &saveProblem);

private:
    enum class Read
    {
        Missing,
        Good,
        Unreadable
    };
    Read readFile(const QString &path, QVariantMap &values, QByteArray &bytes);
    void recoverFromUnreadableFile();
    void keepLastGoodCopy(const QByteArray &bytes);
    void store(const QString &key, const QVariant &value);
    void scheduleWrite();
    bool writeFile();
    void setSaveProblem(const QString &problem, const QString &details);

    QString m_filePath;
    QVariantMap m_values;
    QSet<QString> m_damagedKeys;
    bool m_dirty = false;
    // The file could not be read and could not be moved aside either: it is never replaced.
    bool m_mustNotReplace = false;
    QString m_loadProblem;
    QString m_loadProblemDetails;
    QString m_saveProblem;
    QString m_saveProblemDetails;
    QTimer m_writeTimer;
    QTimer m_retryTimer;
};
