// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "BinaryPlist.h"

#include "BinaryPlistReader.h"
#include "BinaryPlistWriter.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

#include <vector>

namespace {

enum class Kind
{
    Unsupported,
    Null,
    Bool,
    Signed,
    Unsigned,
    Real,
    Float,
    Date,
    Data,
    String,
    Uid,
    List,
    StringList,
    Map,
    Hash,
};

Kind kindOf(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<PlistUid>())
        return Kind::Uid;
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return Kind::Null;
    case QMetaType::Bool:
        return Kind::Bool;
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        return Kind::Signed;
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
        return Kind::Unsigned;
    case QMetaType::Double:
        return Kind::Real;
    case QMetaType::Float:
        return Kind::Float;
    case QMetaType::QDateTime:
        return value.toDateTime().isValid() ? Kind::Date : Kind::Unsupported;
    case QMetaType::QByteArray:
        return Kind::Data;
    case QMetaType::QString:
        return Kind::String;
    case QMetaType::QVariantList:
        return Kind::List;
    case QMetaType::QStringList:
        return Kind::StringList;
    case QMetaType::QVariantMap:
        return Kind::Map;
    case QMetaType::QVariantHash:
        return Kind::Hash;
    default:
        return Kind::Unsupported;
    }
}

// The objects of a document in the order they are written: the root first, then breadth first,
// each container's children numbered as the container is reached. Equal strings (dictionary
// keys, mostly) are written once.
class Flattener
{
public:
    struct Entry
    {
        Kind kind = Kind::Unsupported;
        quint64 firstRef = 0; // containers: where their references start in m_refs
        quint64 count = 0;    // containers: elements, or key-value pairs
    };

    bool run(const QVariant &root)
    {
        add(root);
        for (size_t i = 0; i < m_objects.size(); ++i) {
            const QVariant value = m_objects[i];
            const Kind kind = kindOf(value);
            if (kind == Kind::Unsupported)
                return false;
            m_entries[i].kind = kind;
            m_entries[i].firstRef = m_refs.size();
            switch (kind) {
            case Kind::List: {
                const QVariantList list = value.toList();
                m_entries[i].count = quint64(list.size());
                for (const QVariant &element : list)
                    m_refs.push_back(add(element));
                break;
            }
            case Kind::StringList: {
                const QStringList list = value.toStringList();
                m_entries[i].count = quint64(list.size());
                for (const QString &element : list)
                    m_refs.push_back(addString(element));
                break;
            }
            case Kind::Map:
                addDictionary(i, value.toMap());
                break;
            case Kind::Hash:
                addDictionary(i, value.toHash());
                break;
            default:
                break;
            }
        }
        return true;
    }

    const std::vector<QVariant> &objects() const { return m_objects; }
    const std::vector<Entry> &entries() const { return m_entries; }
    std::span<const quint64> refs(quint64 first, quint64 count) const
    {
        return std::span<const quint64>(m_refs).subspan(first, count);
    }

private:
    template <typename Map> void addDictionary(size_t index, const Map &map)
    {
        m_entries[index].count = quint64(map.size());
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            m_refs.push_back(addString(it.key()));
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            m_refs.push_back(add(it.value()));
    }

    quint64 add(const QVariant &value)
    {
        if (value.typeId() == QMetaType::QString)
            return addString(value.toString());
        m_objects.push_back(value);
        m_entries.emplace_back();
        return m_objects.size() - 1;
    }

    quint64 addString(const QString &text)
    {
        const auto found = m_strings.constFind(text);
        if (found != m_strings.cend())
            return found.value();
        const quint64 ref = m_objects.size();
        m_strings.insert(text, ref);
        m_objects.emplace_back(text);
        m_entries.emplace_back();
        return ref;
    }

    std::vector<QVariant> m_objects;
    std::vector<Entry> m_entries;
    std::vector<quint64> m_refs;
    QHash<QString, quint64> m_strings;
};

} // namespace

std::optional<QVariant> BinaryPlist::read(QByteArrayView bytes, QString *error)
{
    const std::optional<BinaryPlistReader> reader = BinaryPlistReader::open(bytes, error);
    if (!reader)
        return std::nullopt;
    return reader->toVariant(reader->topObject(), error);
}

std::optional<QByteArray> BinaryPlist::write(const QVariant &root)
{
    Flattener flat;
    if (!flat.run(root))
        return std::nullopt;
    const std::vector<QVariant> &objects = flat.objects();
    BinaryPlistWriter writer(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        const QVariant &value = objects[i];
        const Flattener::Entry &entry = flat.entries()[i];
        switch (entry.kind) {
        case Kind::Unsupported:
            return std::nullopt;
        case Kind::Null:
            writer.writeNull();
            break;
        case Kind::Bool:
            writer.writeBool(value.toBool());
            break;
        case Kind::Signed:
            writer.writeInteger(value.toLongLong());
            break;
        case Kind::Unsigned:
            writer.writeUnsigned(value.toULongLong());
            break;
        case Kind::Real:
            writer.writeReal(value.toDouble());
            break;
        case Kind::Float:
            writer.writeFloat(value.toFloat());
            break;
        case Kind::Date:
            writer.writeDate(value.toDateTime());
            break;
        case Kind::Data:
            writer.writeData(value.toByteArray());
            break;
        case Kind::String:
            writer.writeString(value.toString());
            break;
        case Kind::Uid:
            writer.writeUid(value.value<PlistUid>().value);
            break;
        case Kind::List:
        case Kind::StringList:
            writer.writeArray(flat.refs(entry.firstRef, entry.count));
            break;
        case Kind::Map:
        case Kind::Hash:
            writer.writeDictionary(flat.refs(entry.firstRef, entry.count),
                                   flat.refs(entry.firstRef + entry.count, entry.count));
            break;
        }
    }
    QByteArray document = writer.finish(0);
    if (document.isEmpty())
        return std::nullopt;
    return document;
}
