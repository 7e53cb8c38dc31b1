// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "BinaryPlist.h"
#include "BinaryPlistReader.h"
#include "BinaryPlistWriter.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QPoint>
#include <QTest>

#include <limits>

namespace {

QByteArray bigEndian(quint64 value, int width)
{
    QByteArray bytes(width, '\0');
    for (int i = width - 1; i >= 0; --i, value >>= 8)
        bytes[i] = char(value & 0xFF);
    return bytes;
}

QByteArray marker(int type, quint64 count)
{
    if (count < 15)
        return QByteArray(1, char((type << 4) | int(count)));
    return QByteArray(1, char((type << 4) | 0xF)) + char(0x13) + bigEndian(count, 8);
}

QByteArray refs(std::initializer_list<quint64> list, int width = 1)
{
    QByteArray bytes;
    for (const quint64 ref : list)
        bytes += bigEndian(ref, width);
    return bytes;
}

// A document assembled byte by byte, with any reference and offset width, so that the reader
// meets forms our own writer never produces.
QByteArray document(const QList<QByteArray> &objects, int width = 1, quint64 top = 0)
{
    QByteArray out("bplist00");
    QByteArray table;
    for (const QByteArray &object : objects) {
        table += bigEndian(quint64(out.size()), width);
        out += object;
    }
    const quint64 tableAt = quint64(out.size());
    out += table + QByteArray(6, '\0') + char(width) + char(width);
    return out + bigEndian(quint64(objects.size()), 8) + bigEndian(top, 8) + bigEndian(tableAt, 8);
}

const auto ascii = [](const char *text) { return marker(0x5, qstrlen(text)) + text; };
const auto integer = [](quint64 value) { return char(0x13) + bigEndian(value, 8); };
const auto hex = [](const char *bytes) { return QByteArray::fromHex(bytes); };
const auto i64 = [](qint64 value) { return QVariant::fromValue<qint64>(value); };
const auto u64 = [](quint64 value) { return QVariant::fromValue<quint64>(value); };

// One value of every kind the codec maps, with the type it reads back as.
QList<std::tuple<const char *, QVariant, QVariant>> samples()
{
    const QVariant uid = QVariant::fromValue(PlistUid{123456789});
    const QDateTime before2001 = QDateTime::fromMSecsSinceEpoch(-86400500, Qt::UTC);
    const QString longText = QStringLiteral("Grüße 🎵 ").repeated(5);
    QVariantList many;
    for (int i = 0; i < 1000; ++i)
        many.append(i64(i * 7919));
    const QVariantMap nested{{u"k"_qs, QVariantList{QVariantMap{}, QVariantList{}}},
                             {u"é"_qs, QVariant()}};
    return {
        {"null", QVariant(), QVariant()},
        {"bool", false, false},
        {"one byte", 255, i64(255)},
        {"two bytes", 256, i64(256)},
        {"four bytes", 70000u, i64(70000)},
        {"negative", -1, i64(-1)},
        {"int64 min", i64(std::numeric_limits<qint64>::min()),
         i64(std::numeric_limits<qint64>::min())},
        {"uint64 max", u64(~quint64(0)), u64(~quint64(0))},
        {"double", -0.1, -0.1},
        {"float reads as double", 0.75f, 0.75},
        {"date before 2001", before2001, before2001},
        {"data", QByteArray(300, '\x7f'), QByteArray(300, '\x7f')},
        {"empty string", QString(), QString()},
        {"ascii", QString(20, u'a'), QString(20, u'a')},
        {"utf-16", longText, longText},
        {"uid", uid, uid},
        {"string list", QStringList{u"a"_qs, u"a"_qs}, QVariantList{u"a"_qs, u"a"_qs}},
        {"long array", many, many},
        {"nested", nested, nested},
        {"hash reads as map", QVariantHash{{u"x"_qs, 1}}, QVariantMap{{u"x"_qs, i64(1)}}},
    };
}

} // namespace

class TestBinaryPlist : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pythonReadsWhatWeWrite_data();
    void pythonReadsWhatWeWrite();
    void readsAndRefusesHandBuiltDocuments_data();
    void readsAndRefusesHandBuiltDocuments();
    void writerRefusesInconsistentDocuments_data();
    void writerRefusesInconsistentDocuments();
};

void TestBinaryPlist::pythonReadsWhatWeWrite_data()
{
    QTest::addColumn<int>("numbers");
    // Sizes that give 1, 2 and 4-byte references and offsets.
    QTest::newRow("small") << 0;
    QTest::newRow("medium") << 300;
    QTest::newRow("large") << 70000;
}

void TestBinaryPlist::pythonReadsWhatWeWrite()
{
    if (!TestSupport::haveTool(QStringLiteral("python3")))
        QSKIP("python3 is not installed");
    QFETCH(int, numbers);
    QVariantMap root;
    QVariantMap expected;
    for (const auto &[name, value, read] : samples()) {
        root.insert(QString::fromLatin1(name), value);
        expected.insert(QString::fromLatin1(name), read);
    }
    QVariantList distinct;
    for (int i = 0; i < numbers; ++i)
        distinct.append(i64(qint64(i) * 1000003));
    root.insert(QStringLiteral("numbers"), distinct);
    expected.insert(QStringLiteral("numbers"), distinct);

    // Python writes back what it read, in its own encoding: equal means it read ours right, and
    // we read its encoding right.
    const TestSupport::ProcessResult result = TestSupport::python(
        QStringLiteral("import plistlib,sys\n"
                       "v = plistlib.loads(sys.stdin.buffer.read())\n"
                       "sys.stdout.buffer.write(plistlib.dumps(v, fmt=plistlib.FMT_BINARY))"),
        {}, BinaryPlist::write(root).value_or(QByteArray()));
    QVERIFY2(result.exitCode == 0, result.err.constData());
    const QVariantMap back = BinaryPlist::read(result.out).value_or(QVariant()).toMap();
    QCOMPARE(back, expected);
    // Equal numbers of another type compare equal: each value must also read as its one type.
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(back.value(it.key()).metaType() == it.value().metaType(), qPrintable(it.key()));
    // Values no property list can hold.
    QVERIFY(!BinaryPlist::write(QVariantMap{{u"a"_qs, QVariantList{QPoint()}}}));
    QVERIFY(!BinaryPlist::write(QDateTime()));
}

void TestBinaryPlist::readsAndRefusesHandBuiltDocuments_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QVariant>("expected");

    // Offsets past 65,535 in 3 bytes, 3-byte references, and a top object that is not 0.
    QTest::newRow("3-byte refs and offsets")
        << document({marker(0x4, 70000) + QByteArray(70000, 'z'), ascii("abc"),
                     marker(0x6, 5) + hex("00e920acd83cdfb5d800"),
                     marker(0xA, 3) + refs({0, 1, 2}, 3)},
                    3, 3)
        << QVariant(QVariantList{QByteArray(70000, 'z'), u"abc"_qs, u"é€🎵"_qs + QChar(0xD800)});
    for (const int width : {2, 5, 8}) {
        QTest::addRow("%d-byte refs and offsets", width)
            << document({marker(0xD, 1) + refs({1, 2}, width), ascii("key"), integer(42)}, width)
            << QVariant(QVariantMap{{u"key"_qs, i64(42)}});
    }
    // A UTF-8 marker counts bytes; what is not UTF-8 reads as replacement characters.
    QTest::newRow("utf-8 strings")
        << document({marker(0xA, 3) + refs({1, 2, 3}), marker(0x7, 6) + "\xc3\xa9t\xc3\xa9!",
                     QByteArray(1, char(0x70)), marker(0x7, 1) + "\xff"})
        << QVariant(QVariantList{u"été!"_qs, QString(), QString(QChar(0xFFFD))});
    QTest::newRow("integer widths")
        << document({marker(0xA, 5) + refs({1, 2, 3, 4, 5}), hex("10ff"), hex("11ffff"),
                     hex("12ffffffff"), hex("13ffffffffffffffff"),
                     hex("1400000000000000008000000000000001")})
        << QVariant(QVariantList{i64(255), i64(65535), i64(4294967295), i64(-1),
                                 u64((quint64(1) << 63) + 1)});
    // A 16-byte integer is 128-bit two's complement: only values of the 64-bit types read.
    QTest::newRow("16-byte integers that fit")
        << document({marker(0xA, 3) + refs({1, 2, 3}), hex("14ffffffffffffffffffffffffffffff85"),
                     hex("14ffffffffffffffff8000000000000000"),
                     hex("1400000000000000008000000000000000")})
        << QVariant(QVariantList{i64(-123), i64(std::numeric_limits<qint64>::min()),
                                 u64(quint64(1) << 63)});
    QTest::newRow("fill, null, 4-byte real, 3-byte uid")
        << document({marker(0xA, 4) + refs({1, 2, 3, 4}), QByteArray(1, char(0x0F)),
                     QByteArray(1, '\0'), hex("223fc00000"), hex("820186a0")})
        << QVariant(
               QVariantList{QVariant(), QVariant(), 1.5, QVariant::fromValue(PlistUid{100000})});
    QTest::newRow("sets and ordered sets read as arrays")
        << document({marker(0xA, 2) + refs({1, 2}), marker(0xC, 2) + refs({3, 3}),
                     marker(0xB, 1) + refs({3}), ascii("s")})
        << QVariant(QVariantList{QVariantList{u"s"_qs, u"s"_qs}, QVariantList{u"s"_qs}});
    // Counts below 15 may still use the integer-follows form, in any integer width.
    QTest::newRow("counts that follow the marker")
        << document(
               {hex("af1002") + refs({1, 2}), hex("4f110003") + "xyz", hex("5f1200000002") + "ok"})
        << QVariant(QVariantList{QByteArray("xyz"), u"ok"_qs});
    const QVariantList shared{u"v"_qs, u"v"_qs};
    QTest::newRow("shared objects are not a cycle")
        << document({marker(0xD, 2) + refs({1, 2, 3, 3}), ascii("a"), ascii("b"),
                     marker(0xA, 2) + refs({4, 4}), ascii("v")})
        << QVariant(QVariantMap{{u"a"_qs, shared}, {u"b"_qs, shared}});

    // Malformed documents, which must be refused.
    const auto bad = [](const char *name, const QByteArray &bytes) {
        QTest::newRow(name) << bytes << QVariant();
    };
    const QByteArray valid = document({marker(0xA, 2) + refs({1, 2}), ascii("a"), integer(1)});
    QVERIFY(BinaryPlist::read(valid));
    const qsizetype table = valid.size() - 32 - 3;
    // The trailer's fields of the valid document, patched one at a time.
    const auto patched = [&valid](qsizetype fromEnd, const QByteArray &bytes) {
        return QByteArray(valid).replace(valid.size() - fromEnd, bytes.size(), bytes);
    };
    bad("empty", QByteArray());
    bad("wrong magic", QByteArray(valid).replace(0, 6, "xplist"));
    bad("wrong version", QByteArray(valid).replace(6, 2, "01"));
    bad("truncated trailer", valid.chopped(1));
    bad("truncated to the table", valid.left(table + 3));
    bad("offset size 0", patched(26, QByteArray(1, '\0')));
    bad("offset size 9", patched(26, QByteArray(1, '\x09')));
    bad("ref size 0", patched(25, QByteArray(1, '\0')));
    bad("ref size 9", patched(25, QByteArray(1, '\x09')));
    bad("no objects", patched(24, bigEndian(0, 8)));
    bad("more objects than the table holds", patched(24, bigEndian(4, 8)));
    bad("object count overflows", patched(24, bigEndian(quint64(1) << 62, 8)));
    bad("top object out of range", patched(16, bigEndian(3, 8)));
    bad("table at the header", patched(8, bigEndian(8, 8)));
    bad("table inside the trailer", patched(8, bigEndian(valid.size() - 31, 8)));
    bad("table past the end", patched(8, bigEndian(~quint64(0), 8)));
    bad("offset into the header", QByteArray(valid).replace(table, 1, "\x03"));
    bad("offset into the table", QByteArray(valid).replace(table, 1, QByteArray(1, char(table))));

    const auto single = [](const QByteArray &object) { return document({object}); };
    bad("reference out of range", single(marker(0xA, 1) + '\x05'));
    bad("array holds itself", single(marker(0xA, 1) + '\0'));
    bad("indirect cycle",
        document({marker(0xD, 1) + refs({1, 2}), ascii("k"), marker(0xA, 2) + refs({1, 0})}));
    bad("absurd array count", single(marker(0xA, quint64(1) << 40) + QByteArray(4, 0)));
    bad("absurd dictionary count", single(marker(0xD, quint64(1) << 62)));
    // Single objects: counts, lengths and widths that do not fit, unknown markers; a 16-byte
    // integer outside the 64-bit types reads as nothing, never as its low half.
    const QByteArray objects =
        "af13ffffffffffffffff00000000 af5101 af1400000000000000000000000000000001 5f12 "
        "5a6162 62006100 4f1064616263 1300 "
        "150000000000000000000000000000000000000000000000000000000000000000 "
        "1400000000000000010000000000000005 14ffffffffffffffff0000000000000005 "
        "1480000000000000000000000000000005 210000 3200000000 337ff8000000000000 "
        "337fefffffffffffff 8f01000000000000000000000000000000 0c 90 e0 01";
    for (const QByteArray &object : objects.split(' '))
        QTest::addRow("object %s", object.constData())
            << single(QByteArray::fromHex(object)) << QVariant();
    bad("dictionary key is not a string", document({marker(0xD, 1) + refs({1, 1}), integer(1)}));
    QList<QByteArray> deep;
    for (quint64 i = 0; i < 2000; ++i)
        deep.append(marker(0xA, 1) + refs({i + 1}, 2));
    deep.append(integer(0));
    bad("nested too deep", document(deep, 2));
    // Each array holds the next twice: 2^60 paths through 61 objects.
    QList<QByteArray> sharing;
    for (quint64 i = 0; i < 60; ++i)
        sharing.append(marker(0xA, 2) + refs({i + 1, i + 1}));
    sharing.append(integer(0));
    bad("exponential sharing", document(sharing));
}

void TestBinaryPlist::readsAndRefusesHandBuiltDocuments()
{
    QFETCH(QByteArray, document);
    QFETCH(QVariant, expected); // invalid: the document is refused
    QString error;
    const std::optional<QVariant> value = BinaryPlist::read(document, &error);
    QCOMPARE(value.has_value(), expected.isValid());
    QCOMPARE(error.isEmpty(), expected.isValid());
    if (value) {
        QCOMPARE(value->metaType(), expected.metaType());
        QCOMPARE(*value, expected);
    }
    // Whatever the document, every accessor of every object agrees with the object's type or
    // refuses, without reading out of bounds.
    using Type = BinaryPlistReader::Type;
    const std::optional<BinaryPlistReader> reader = BinaryPlistReader::open(document);
    std::vector<quint64> keys;
    std::vector<quint64> values;
    std::string utf8;
    for (quint64 ref = 0; reader && ref <= reader->objectCount(); ++ref) {
        const Type type = reader->type(ref);
        QCOMPARE(reader->arrayRefs(ref).has_value(), type == Type::Array || type == Type::Set);
        QCOMPARE(reader->dictionaryRefs(ref, keys, values), type == Type::Dictionary);
        QCOMPARE(reader->string(ref).has_value(), reader->appendUtf8(ref, utf8));
        QVERIFY(!reader->integer(ref) || type == Type::Integer);
    }
}

void TestBinaryPlist::writerRefusesInconsistentDocuments_data()
{
    QTest::addColumn<int>("mistake"); // -1: none
    QTest::newRow("consistent, forward references") << -1;
    QTest::newRow("fewer objects than announced") << 0;
    QTest::newRow("more objects than announced") << 1;
    QTest::newRow("reference past the count") << 2;
    QTest::newRow("top object past the count") << 3;
    QTest::newRow("dictionary halves differ") << 4;
}

void TestBinaryPlist::writerRefusesInconsistentDocuments()
{
    QFETCH(int, mistake);
    BinaryPlistWriter writer(3);
    const quint64 refs[] = {1, mistake == 2 ? 3u : 2u};
    if (mistake == 4)
        writer.writeDictionary(std::span<const quint64>(refs, 1), std::span<const quint64>(refs));
    else
        writer.writeArray(refs);
    // Non-ASCII UTF-8 goes out as UTF-16, which every reader knows.
    writer.writeUtf8String("grüße");
    if (mistake != 0)
        writer.writeUtf8String("kick");
    if (mistake == 1)
        writer.writeNull();
    const QByteArray document = writer.finish(mistake == 3 ? 3 : 0);
    QCOMPARE(document.isEmpty(), mistake >= 0);
    if (mistake < 0)
        QCOMPARE(BinaryPlist::read(document).value_or(QVariant()),
                 QVariant(QVariantList{u"grüße"_qs, u"kick"_qs}));
}

QTEST_GUILESS_MAIN(TestBinaryPlist)
#include "tst_binaryplist.moc"
