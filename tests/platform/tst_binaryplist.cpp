#include "BinaryPlist.h"
#include "BinaryPlistReader.h"
#include "BinaryPlistWriter.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QPoint>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

QByteArray bigEndian(quint64 value, int width)
{
    QByteArray bytes(width, '\0');
    for (int i = width - 1; i >= 0; --i) {
        bytes[i] = char(value & 0xFF);
        value >>= 8;
    }
    return bytes;
}

QByteArray marker(int type, quint64 count)
{
    if (count < 15)
        return QByteArray(1, char((type << 4) | int(count)));
    return QByteArray(1, char((type << 4) | 0xF)) + QByteArray(1, char(0x13)) + bigEndian(count, 8);
}

// Assembles a document byte by byte, with any reference and offset width, so that the reader
// meets forms our own writer never produces.
struct RawDocument
{
    int refSize = 1;
    int offsetSize = 1;
    quint64 top = 0;
    QList<QByteArray> objects;

    quint64 add(const QByteArray &bytes)
    {
        objects.append(bytes);
        return quint64(objects.size() - 1);
    }
    QByteArray refs(std::initializer_list<quint64> list) const
    {
        QByteArray bytes;
        for (const quint64 ref : list)
            bytes += bigEndian(ref, refSize);
        return bytes;
    }
    QByteArray build() const
    {
        QByteArray out("bplist00");
        QList<quint64> offsets;
        for (const QByteArray &object : objects) {
            offsets.append(quint64(out.size()));
            out += object;
        }
        const quint64 table = quint64(out.size());
        for (const quint64 offset : offsets)
            out += bigEndian(offset, offsetSize);
        out += QByteArray(6, '\0') + char(offsetSize) + char(refSize);
        out += bigEndian(quint64(objects.size()), 8) + bigEndian(top, 8) + bigEndian(table, 8);
        return out;
    }
};

QByteArray ascii(const char *text)
{
    const QByteArray bytes(text);
    return marker(0x5, quint64(bytes.size())) + bytes;
}

QByteArray utf16(const QString &text)
{
    QByteArray bytes = marker(0x6, quint64(text.size()));
    for (const QChar c : text)
        bytes += bigEndian(c.unicode(), 2);
    return bytes;
}

QByteArray integer(quint64 value)
{
    return QByteArray(1, char(0x13)) + bigEndian(value, 8);
}

// The trailer fields of a valid document, patched one at a time.
QByteArray patched(QByteArray document, qsizetype fromEnd, const QByteArray &bytes)
{
    document.replace(document.size() - fromEnd, bytes.size(), bytes);
    return document;
}

QVariant i64(qint64 value)
{
    return QVariant::fromValue<qint64>(value);
}

QString roundTripScript()
{
    return QStringLiteral("import plistlib,sys\n"
                          "value = plistlib.loads(open(sys.argv[1], 'rb').read())\n"
                          "open(sys.argv[2], 'wb').write(plistlib.dumps(value, "
                          "fmt=plistlib.FMT_BINARY))\n");
}

QString randomText(QRandomGenerator &random, int length)
{
    static const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyz _-éüß日本語🎵");
    QString text;
    for (int i = 0; i < length; ++i) {
        const QChar c = alphabet.at(random.bounded(alphabet.size()));
        // Never split the surrogate pair of the last letter.
        if (c.isSurrogate())
            text += QStringLiteral("🎵");
        else
            text += c;
    }
    return text;
}

QVariant randomValue(QRandomGenerator &random, int depth)
{
    const int kind = random.bounded(depth > 3 ? 8 : 11);
    switch (kind) {
    case 0:
        return random.bounded(2) == 1;
    case 1:
        return i64(qint64(random.generate64()) >> random.bounded(64));
    case 2:
        return QVariant::fromValue<quint64>(random.generate64() | (quint64(1) << 63));
    case 3:
        return random.generateDouble() * 1e6 - 5e5;
    case 4:
        return QDateTime::fromMSecsSinceEpoch(qint64(random.bounded(4000000000u)) * 1000 + 7,
                                              Qt::UTC);
    case 5: {
        QByteArray data(random.bounded(40), '\0');
        for (char &c : data)
            c = char(random.bounded(256));
        return data;
    }
    case 6:
        return QVariant::fromValue(PlistUid{random.generate64() >> random.bounded(64)});
    case 7:
        return randomText(random, random.bounded(30));
    case 8:
    case 9: {
        QVariantList list;
        const int count = random.bounded(depth == 0 ? 20 : 6);
        for (int i = 0; i < count; ++i)
            list.append(randomValue(random, depth + 1));
        return list;
    }
    default: {
        QVariantMap map;
        const int count = random.bounded(depth == 0 ? 20 : 6);
        for (int i = 0; i < count; ++i)
            map.insert(randomText(random, random.bounded(1, 12)), randomValue(random, depth + 1));
        return map;
    }
    }
}

} // namespace

class TestBinaryPlist : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTripKeepsValueAndType_data();
    void roundTripKeepsValueAndType();
    void pythonReadsWhatWeWrite_data();
    void pythonReadsWhatWeWrite();
    void readsWhatPythonWrites();
    void sixteenByteIntegersExactOrAbsent_data();
    void sixteenByteIntegersExactOrAbsent();
    void readsHandBuiltDocuments_data();
    void readsHandBuiltDocuments();
    void rejectsMalformedDocuments_data();
    void rejectsMalformedDocuments();
    void survivesDamagedDocuments();
    void streamsAnIndexShapedDocument();
    void writerRefusesInconsistentDocuments_data();
    void writerRefusesInconsistentDocuments();
    void refusesUnsupportedValues_data();
    void refusesUnsupportedValues();
};

void TestBinaryPlist::roundTripKeepsValueAndType_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected");

    const QVariant uid = QVariant::fromValue(PlistUid{123456789});
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    QTest::newRow("null") << QVariant() << QVariant();
    QTest::newRow("true") << QVariant(true) << QVariant(true);
    QTest::newRow("false") << QVariant(false) << QVariant(false);
    QTest::newRow("zero") << QVariant(0) << i64(0);
    QTest::newRow("one byte") << QVariant(255) << i64(255);
    QTest::newRow("two bytes") << QVariant(256) << i64(256);
    QTest::newRow("four bytes") << QVariant(70000u) << i64(70000);
    QTest::newRow("eight bytes") << i64(qint64(1) << 40) << i64(qint64(1) << 40);
    QTest::newRow("negative") << QVariant(-1) << i64(-1);
    QTest::newRow("int64 min") << i64(std::numeric_limits<qint64>::min())
                               << i64(std::numeric_limits<qint64>::min());
    QTest::newRow("uint64 max") << QVariant::fromValue(std::numeric_limits<quint64>::max())
                                << QVariant::fromValue(std::numeric_limits<quint64>::max());
    QTest::newRow("double") << QVariant(-0.1) << QVariant(-0.1);
    QTest::newRow("float reads as double") << QVariant(0.75f) << QVariant(0.75);
    QTest::newRow("date") << QVariant(date) << QVariant(date);
    QTest::newRow("date before 2001")
        << QVariant(QDateTime::fromMSecsSinceEpoch(-86400500, Qt::UTC))
        << QVariant(QDateTime::fromMSecsSinceEpoch(-86400500, Qt::UTC));
    QTest::newRow("empty data") << QVariant(QByteArray()) << QVariant(QByteArray());
    QTest::newRow("data") << QVariant(QByteArray(300, '\x7f')) << QVariant(QByteArray(300, '\x7f'));
    QTest::newRow("empty string") << QVariant(QString()) << QVariant(QString());
    QTest::newRow("ascii") << QVariant(QStringLiteral("hello"))
                           << QVariant(QStringLiteral("hello"));
    QTest::newRow("utf-16") << QVariant(QStringLiteral("Grüße 🎵"))
                            << QVariant(QStringLiteral("Grüße 🎵"));
    QTest::newRow("uid") << uid << uid;
    QTest::newRow("string list") << QVariant(QStringList{QStringLiteral("a"), QStringLiteral("a")})
                                 << QVariant(
                                        QVariantList{QStringLiteral("a"), QStringLiteral("a")});
    QVariantList many;
    for (int i = 0; i < 1000; ++i)
        many.append(i64(i * 7919));
    QTest::newRow("long array") << QVariant(many) << QVariant(many);
    const QVariantMap nested{{QStringLiteral("k"), QVariantList{QVariantMap{}, QVariantList{}}},
                             {QStringLiteral("é"), QVariant()}};
    QTest::newRow("nested") << QVariant(nested) << QVariant(nested);
    QVariantHash hash{{QStringLiteral("x"), i64(1)}};
    QTest::newRow("hash reads as map")
        << QVariant(hash) << QVariant(QVariantMap{{QStringLiteral("x"), i64(1)}});
}

void TestBinaryPlist::roundTripKeepsValueAndType()
{
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);
    const std::optional<QByteArray> bytes = BinaryPlist::write(value);
    QVERIFY(bytes);
    QString error;
    const std::optional<QVariant> back = BinaryPlist::read(*bytes, &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(back->metaType(), expected.metaType());
    QCOMPARE(*back, expected);
}

void TestBinaryPlist::pythonReadsWhatWeWrite_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("numbers");
    QTest::addColumn<int>("seed");
    // Sizes that give 1, 2 and 4-byte references and offsets.
    QTest::newRow("small") << 3 << 0 << 1;
    QTest::newRow("medium") << 40 << 0 << 2;
    QTest::newRow("large") << 200 << 70000 << 3;
}

void TestBinaryPlist::pythonReadsWhatWeWrite()
{
    if (!TestSupport::haveTool(QStringLiteral("python3")))
        QSKIP("python3 is not installed");
    QFETCH(int, entries);
    QFETCH(int, numbers);
    QFETCH(int, seed);
    QRandomGenerator random{quint32(seed)};
    QVariantMap root;
    for (int i = 0; i < entries; ++i)
        root.insert(QString::number(i), randomValue(random, 0));
    root.insert(QStringLiteral("fixed"),
                QVariantList{i64(std::numeric_limits<qint64>::min()),
                             QVariant::fromValue(std::numeric_limits<quint64>::max()),
                             QVariant::fromValue(PlistUid{0}), QString(), QByteArray(),
                             QVariantMap(), QString(20, QLatin1Char('a'))});
    QVariantList distinct;
    for (int i = 0; i < numbers; ++i)
        distinct.append(i64(qint64(i) * 1000003));
    root.insert(QStringLiteral("numbers"), distinct);

    const std::optional<QByteArray> bytes = BinaryPlist::write(root);
    QVERIFY(bytes);
    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("ours.plist"));
    const QString theirs = dir.filePath(QStringLiteral("theirs.plist"));
    QVERIFY(TestSupport::writeFile(ours, *bytes));
    const TestSupport::ProcessResult result =
        TestSupport::python(roundTripScript(), {ours, theirs});
    QVERIFY2(result.exitCode == 0, result.err.constData());

    // Python wrote back what it read, in its own encoding: equal means it read ours right.
    QFile file(theirs);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString error;
    const std::optional<QVariant> back = BinaryPlist::read(file.readAll(), &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(*back, QVariant(root));
}

void TestBinaryPlist::readsWhatPythonWrites()
{
    if (!TestSupport::haveTool(QStringLiteral("python3")))
        QSKIP("python3 is not installed");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("python.plist"));
    const QString script = QStringLiteral(
        "import plistlib,sys,datetime\n"
        "value = {'small': 200, 'neg': -5, 'i16': 40000, 'i32': 3000000000, 'i64': 2**40,\n"
        "  'huge': 2**63 + 5, 'real': 2.5, 'yes': True, 'no': False, 'data': b'\\x00\\xff',\n"
        "  'date': datetime.datetime(2020, 5, 17, 12, 30, 15, 250000), 'ascii': 'hello',\n"
        "  'text': 'Gr\\u00fc\\u00dfe \\U0001F3B5', 'uid': plistlib.UID(300),\n"
        "  'nested': {'a': [{'b': []}]}, 'long': 'x' * 1000, 'many': list(range(70000))}\n"
        "open(sys.argv[1], 'wb').write(plistlib.dumps(value, fmt=plistlib.FMT_BINARY))\n");
    const TestSupport::ProcessResult result = TestSupport::python(script, {path});
    QVERIFY2(result.exitCode == 0, result.err.constData());

    QVariantList many;
    for (int i = 0; i < 70000; ++i)
        many.append(i64(i));
    const QVariantMap expected{
        {QStringLiteral("small"), i64(200)},
        {QStringLiteral("neg"), i64(-5)},
        {QStringLiteral("i16"), i64(40000)},
        {QStringLiteral("i32"), i64(3000000000)},
        {QStringLiteral("i64"), i64(qint64(1) << 40)},
        {QStringLiteral("huge"), QVariant::fromValue((quint64(1) << 63) + 5)},
        {QStringLiteral("real"), 2.5},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("data"), QByteArray("\x00\xff", 2)},
        {QStringLiteral("date"), QDateTime(QDate(2020, 5, 17), QTime(12, 30, 15, 250), Qt::UTC)},
        {QStringLiteral("ascii"), QStringLiteral("hello")},
        {QStringLiteral("text"), QStringLiteral("Grüße 🎵")},
        {QStringLiteral("uid"), QVariant::fromValue(PlistUid{300})},
        {QStringLiteral("nested"),
         QVariantMap{{QStringLiteral("a"),
                      QVariantList{QVariantMap{{QStringLiteral("b"), QVariantList()}}}}}},
        {QStringLiteral("long"), QString(1000, QLatin1Char('x'))},
        {QStringLiteral("many"), many},
    };
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString error;
    const std::optional<QVariant> value = BinaryPlist::read(file.readAll(), &error);
    QVERIFY2(value, qPrintable(error));
    const QVariantMap map = value->toMap();
    QCOMPARE(map.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QCOMPARE(map.value(it.key()).metaType(), it.value().metaType());
        QVERIFY2(map.value(it.key()) == it.value(), qPrintable(it.key()));
    }
}

void TestBinaryPlist::sixteenByteIntegersExactOrAbsent_data()
{
    // A 16-byte integer is 128-bit two's complement: a value outside the 64-bit types reads as
    // nothing, never as its low half.
    QTest::addColumn<quint64>("high");
    QTest::addColumn<quint64>("low");
    QTest::addColumn<QVariant>("expected"); // invalid: the document does not read
    constexpr quint64 ones = ~quint64(0);
    constexpr quint64 top = quint64(1) << 63;
    QTest::newRow("small") << quint64(0) << quint64(5) << i64(5);
    QTest::newRow("above int64 max")
        << quint64(0) << top + 44 << QVariant::fromValue<quint64>(top + 44);
    QTest::newRow("minus one") << ones << ones << i64(-1);
    QTest::newRow("int64 min") << ones << top << i64(std::numeric_limits<qint64>::min());
    QTest::newRow("two to the 64") << quint64(1) << quint64(0) << QVariant();
    QTest::newRow("above uint64 max, low half small") << quint64(1) << quint64(7) << QVariant();
    QTest::newRow("below int64 min") << ones << quint64(5) << QVariant();
    QTest::newRow("most negative") << top << quint64(0) << QVariant();
}

void TestBinaryPlist::sixteenByteIntegersExactOrAbsent()
{
    QFETCH(quint64, high);
    QFETCH(quint64, low);
    QFETCH(QVariant, expected);
    RawDocument doc;
    doc.add(QByteArray(1, char(0x14)) + bigEndian(high, 8) + bigEndian(low, 8));
    const QByteArray document = doc.build();
    const std::optional<QVariant> read = BinaryPlist::read(document);
    QCOMPARE(read.has_value(), expected.isValid());
    if (read) {
        QCOMPARE(read->typeId(), expected.typeId());
        QCOMPARE(*read, expected);
    }
    const std::optional<BinaryPlistReader> reader = BinaryPlistReader::open(document);
    QVERIFY(reader);
    const std::optional<qint64> integer = reader->integer(0);
    QCOMPARE(integer.has_value(), expected.typeId() == QMetaType::LongLong);
    if (integer)
        QCOMPARE(*integer, expected.toLongLong());
}

void TestBinaryPlist::readsHandBuiltDocuments_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QVariant>("expected");

    {
        // Offsets past 65,535 in 3 bytes, 3-byte references, and a top object that is not 0.
        RawDocument doc;
        doc.refSize = 3;
        doc.offsetSize = 3;
        doc.add(marker(0x4, 70000) + QByteArray(70000, 'z'));
        doc.add(ascii("abc"));
        doc.add(utf16(QStringLiteral("é🎵")));
        doc.top = doc.add(marker(0xA, 3) + doc.refs({0, 1, 2}));
        QTest::newRow("3-byte refs and offsets")
            << doc.build()
            << QVariant(QVariantList{QByteArray(70000, 'z'), QStringLiteral("abc"),
                                     QStringLiteral("é🎵")});
    }
    for (const int width : {2, 5, 7, 8}) {
        RawDocument doc;
        doc.refSize = width;
        doc.offsetSize = width;
        doc.add(marker(0xD, 1) + doc.refs({1, 2}));
        doc.add(ascii("key"));
        doc.add(integer(42));
        QTest::addRow("%d-byte refs and offsets", width)
            << doc.build() << QVariant(QVariantMap{{QStringLiteral("key"), i64(42)}});
    }
    {
        RawDocument doc;
        doc.add(marker(0xA, 2) + doc.refs({1, 2}));
        doc.add(marker(0x7, 6) + QByteArray("\xc3\xa9t\xc3\xa9!"));
        doc.add(QByteArray(1, char(0x70)));
        // A UTF-8 marker counts bytes.
        QTest::newRow("utf-8 strings")
            << doc.build() << QVariant(QVariantList{QStringLiteral("été!"), QString()});
    }
    {
        RawDocument doc;
        doc.add(marker(0xA, 5) + doc.refs({1, 2, 3, 4, 5}));
        doc.add(QByteArray::fromHex("10ff"));
        doc.add(QByteArray::fromHex("11ffff"));
        doc.add(QByteArray::fromHex("12ffffffff"));
        doc.add(QByteArray::fromHex("13ffffffffffffffff"));
        doc.add(QByteArray::fromHex("1400000000000000008000000000000001"));
        QTest::newRow("integer widths")
            << doc.build()
            << QVariant(QVariantList{i64(255), i64(65535), i64(4294967295), i64(-1),
                                     QVariant::fromValue((quint64(1) << 63) + 1)});
    }
    {
        RawDocument doc;
        doc.add(marker(0xA, 2) + doc.refs({1, 2}));
        doc.add(QByteArray::fromHex("14ffffffffffffffffffffffffffffff85"));
        doc.add(QByteArray::fromHex("1400000000000000000000000000000007"));
        QTest::newRow("16-byte integers that fit")
            << doc.build() << QVariant(QVariantList{i64(-123), i64(7)});
    }
    {
        RawDocument doc;
        doc.add(marker(0xA, 4) + doc.refs({1, 2, 3, 4}));
        doc.add(QByteArray(1, char(0x0F)));
        doc.add(QByteArray(1, char(0x00)));
        doc.add(QByteArray::fromHex("223fc00000"));
        doc.add(QByteArray::fromHex("820186a0"));
        QTest::newRow("fill, null, 4-byte real, 3-byte uid")
            << doc.build()
            << QVariant(QVariantList{QVariant(), QVariant(), 1.5,
                                     QVariant::fromValue(PlistUid{100000})});
    }
    {
        RawDocument doc;
        doc.add(marker(0xA, 2) + doc.refs({1, 2}));
        doc.add(marker(0xC, 2) + doc.refs({3, 3}));
        doc.add(marker(0xB, 1) + doc.refs({3}));
        doc.add(ascii("s"));
        QTest::newRow("sets and ordered sets read as arrays")
            << doc.build()
            << QVariant(QVariantList{QVariantList{QStringLiteral("s"), QStringLiteral("s")},
                                     QVariantList{QStringLiteral("s")}});
    }
    {
        // Counts below 15 may still use the integer-follows form, in any integer width.
        RawDocument doc;
        doc.add(QByteArray::fromHex("af1002") + doc.refs({1, 2}));
        doc.add(QByteArray::fromHex("4f110003") + QByteArray("xyz"));
        doc.add(QByteArray::fromHex("5f1200000002") + QByteArray("ok"));
        QTest::newRow("counts that follow the marker")
            << doc.build() << QVariant(QVariantList{QByteArray("xyz"), QStringLiteral("ok")});
    }
    {
        // Sharing is not a cycle: one array and one key used twice.
        RawDocument doc;
        doc.add(marker(0xD, 2) + doc.refs({1, 2, 3, 3}));
        doc.add(ascii("a"));
        doc.add(ascii("b"));
        doc.add(marker(0xA, 2) + doc.refs({4, 4}));
        doc.add(ascii("v"));
        const QVariantList shared{QStringLiteral("v"), QStringLiteral("v")};
        QTest::newRow("shared objects")
            << doc.build()
            << QVariant(QVariantMap{{QStringLiteral("a"), shared}, {QStringLiteral("b"), shared}});
    }
    {
        RawDocument doc;
        doc.add(QByteArray::fromHex("33") + bigEndian(std::bit_cast<quint64>(-1.5), 8));
        QTest::newRow("date before the epoch")
            << doc.build()
            << QVariant(QDateTime(QDate(2000, 12, 31), QTime(23, 59, 58, 500), Qt::UTC));
    }
}

void TestBinaryPlist::readsHandBuiltDocuments()
{
    QFETCH(QByteArray, document);
    QFETCH(QVariant, expected);
    QString error;
    const std::optional<QVariant> value = BinaryPlist::read(document, &error);
    QVERIFY2(value, qPrintable(error));
    QCOMPARE(*value, expected);
}

void TestBinaryPlist::rejectsMalformedDocuments_data()
{
    QTest::addColumn<QByteArray>("document");

    RawDocument base;
    base.add(marker(0xA, 2) + base.refs({1, 2}));
    base.add(ascii("a"));
    base.add(integer(1));
    const QByteArray valid = base.build();
    QVERIFY(BinaryPlist::read(valid));
    const qsizetype tableOffset = valid.size() - 32 - 3;

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("header only") << QByteArray("bplist00");
    QTest::newRow("wrong magic") << QByteArray(valid).replace(0, 6, "xplist");
    QTest::newRow("wrong version") << QByteArray(valid).replace(6, 2, "01");
    QTest::newRow("truncated trailer") << valid.chopped(1);
    QTest::newRow("truncated to the table") << valid.left(tableOffset + 3);
    QTest::newRow("offset size 0") << patched(valid, 26, QByteArray(1, '\0'));
    QTest::newRow("offset size 9") << patched(valid, 26, QByteArray(1, '\x09'));
    QTest::newRow("ref size 0") << patched(valid, 25, QByteArray(1, '\0'));
    QTest::newRow("ref size 9") << patched(valid, 25, QByteArray(1, '\x09'));
    QTest::newRow("no objects") << patched(valid, 24, bigEndian(0, 8));
    QTest::newRow("more objects than the table holds") << patched(valid, 24, bigEndian(4, 8));
    QTest::newRow("object count overflows") << patched(valid, 24, bigEndian(quint64(1) << 62, 8));
    QTest::newRow("top object out of range") << patched(valid, 16, bigEndian(3, 8));
    QTest::newRow("table at the header") << patched(valid, 8, bigEndian(8, 8));
    QTest::newRow("table inside the trailer")
        << patched(valid, 8, bigEndian(quint64(valid.size() - 31), 8));
    QTest::newRow("table past the end") << patched(valid, 8, bigEndian(~quint64(0), 8));
    QTest::newRow("offset into the header") << QByteArray(valid).replace(tableOffset, 1, "\x03");
    QTest::newRow("offset into the table")
        << QByteArray(valid).replace(tableOffset, 1, QByteArray(1, char(tableOffset)));
    QTest::newRow("offset into the trailer")
        << QByteArray(valid).replace(tableOffset + 1, 1, QByteArray(1, char(valid.size() - 5)));

    const auto single = [](const QByteArray &object) {
        RawDocument doc;
        doc.add(object);
        return doc.build();
    };
    QTest::newRow("reference out of range") << single(marker(0xA, 1) + QByteArray(1, '\x05'));
    QTest::newRow("array holds itself") << single(marker(0xA, 1) + QByteArray(1, '\0'));
    {
        RawDocument doc;
        doc.add(marker(0xD, 1) + doc.refs({1, 2}));
        doc.add(ascii("k"));
        doc.add(marker(0xA, 2) + doc.refs({1, 0}));
        QTest::newRow("indirect cycle") << doc.build();
    }
    QTest::newRow("absurd array count") << single(marker(0xA, quint64(1) << 40) + QByteArray(4, 0));
    QTest::newRow("absurd dictionary count") << single(marker(0xD, quint64(1) << 62));
    QTest::newRow("negative count")
        << single(QByteArray::fromHex("af13ffffffffffffffff") + QByteArray(4, 0));
    QTest::newRow("count is not an integer") << single(QByteArray::fromHex("af5101"));
    QTest::newRow("count of 16 bytes")
        << single(QByteArray::fromHex("af14") + QByteArray(15, 0) + QByteArray(1, 1));
    QTest::newRow("count cut off") << single(QByteArray::fromHex("5f12"));
    QTest::newRow("string past the objects") << single(QByteArray::fromHex("5a6162"));
    QTest::newRow("utf-16 string past the objects") << single(QByteArray::fromHex("62006100"));
    QTest::newRow("data past the objects") << single(QByteArray::fromHex("4f1064") + "abc");
    QTest::newRow("integer cut off") << single(QByteArray::fromHex("1300"));
    QTest::newRow("integer of 32 bytes") << single(QByteArray::fromHex("15") + QByteArray(32, 0));
    QTest::newRow("16-byte integer too large")
        << single(QByteArray::fromHex("1400000000000000010000000000000000"));
    QTest::newRow("real of 2 bytes") << single(QByteArray::fromHex("210000"));
    QTest::newRow("date of 4 bytes") << single(QByteArray::fromHex("3200000000"));
    QTest::newRow("date not a number") << single(QByteArray::fromHex("337ff8000000000000"));
    QTest::newRow("date far away") << single(QByteArray::fromHex("337fefffffffffffff"));
    QTest::newRow("uid wider than 64 bits")
        << single(QByteArray::fromHex("8f") + QByteArray(1, 1) + QByteArray(15, 0));
    QTest::newRow("url marker") << single(QByteArray::fromHex("0c"));
    QTest::newRow("unknown marker 0x9") << single(QByteArray::fromHex("90"));
    QTest::newRow("unknown marker 0xE") << single(QByteArray::fromHex("e0"));
    QTest::newRow("unknown marker 0x01") << single(QByteArray::fromHex("01"));
    {
        RawDocument doc;
        doc.add(marker(0xD, 1) + doc.refs({1, 1}));
        doc.add(integer(1));
        QTest::newRow("dictionary key is not a string") << doc.build();
    }
    {
        RawDocument doc;
        doc.refSize = 2;
        doc.offsetSize = 2;
        for (quint64 i = 0; i < 2000; ++i)
            doc.add(marker(0xA, 1) + doc.refs({i + 1}));
        doc.add(integer(0));
        QTest::newRow("nested too deep") << doc.build();
    }
    {
        // Each array holds the next twice: 2^60 paths through 61 objects.
        RawDocument doc;
        for (quint64 i = 0; i < 60; ++i)
            doc.add(marker(0xA, 2) + doc.refs({i + 1, i + 1}));
        doc.add(integer(0));
        QTest::newRow("exponential sharing") << doc.build();
    }
}

void TestBinaryPlist::rejectsMalformedDocuments()
{
    QFETCH(QByteArray, document);
    QString error;
    const std::optional<QVariant> value = BinaryPlist::read(document, &error);
    QVERIFY(!value);
    QVERIFY(!error.isEmpty());
}

void TestBinaryPlist::survivesDamagedDocuments()
{
    // Run under the sanitizers, this finds reads past the end; the results do not matter.
    QRandomGenerator random(7);
    QVariantMap root;
    for (int i = 0; i < 12; ++i)
        root.insert(QString::number(i), randomValue(random, 1));
    const QByteArray valid = *BinaryPlist::write(root);
    for (qsizetype length = 0; length < valid.size(); length += 3)
        BinaryPlist::read(QByteArrayView(valid).first(length));
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = valid;
        const int flips = random.bounded(1, 4);
        for (int i = 0; i < flips; ++i) {
            // Mostly the trailer and offset table, where one byte changes the most.
            const qsizetype at = random.bounded(4) == 0
                                     ? valid.size() - 1 - random.bounded(qsizetype(160))
                                     : random.bounded(valid.size());
            damaged[at] = char(random.bounded(256));
        }
        BinaryPlist::read(damaged);
        if (const std::optional<BinaryPlistReader> reader = BinaryPlistReader::open(damaged)) {
            std::vector<quint64> keys;
            std::vector<quint64> values;
            for (quint64 ref = 0; ref < reader->objectCount() + 2; ++ref) {
                reader->type(ref);
                reader->arrayRefs(ref);
                reader->dictionaryRefs(ref, keys, values);
                reader->string(ref);
                reader->asciiBytes(ref);
                reader->integer(ref);
            }
        }
    }
}

void TestBinaryPlist::streamsAnIndexShapedDocument()
{
    // An array of {path, folded} dictionaries written in one pass: the array refers forward to
    // dictionaries, which share the two key strings.
    const int count = 300;
    const quint64 objects = 3 + 3 * quint64(count);
    BinaryPlistWriter writer(objects);
    std::vector<quint64> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back(3 + 3 * quint64(i));
    writer.writeArray(entries);
    writer.writeString(QStringLiteral("path"));
    writer.writeUtf8String("folded");
    QVariantList expected;
    for (int i = 0; i < count; ++i) {
        const quint64 self = writer.objectsWritten();
        const quint64 keys[] = {1, 2};
        const quint64 values[] = {self + 1, self + 2};
        writer.writeDictionary(keys, values);
        const QString path = QStringLiteral("/samples/Drums/Kick %1.wav").arg(i);
        const QString folded =
            i % 2 ? QStringLiteral("kick %1.wav").arg(i) : QStringLiteral("grüße %1.wav").arg(i);
        writer.writeUtf8String(path.toUtf8());
        writer.writeString(folded);
        expected.append(
            QVariantMap{{QStringLiteral("path"), path}, {QStringLiteral("folded"), folded}});
    }
    QCOMPARE(writer.objectsWritten(), objects);
    const QByteArray document = writer.finish(0);
    QVERIFY(!document.isEmpty());
    QCOMPARE(BinaryPlist::read(document).value_or(QVariant()), QVariant(expected));

    const std::optional<BinaryPlistReader> reader = BinaryPlistReader::open(document);
    QVERIFY(reader);
    QCOMPARE(reader->objectCount(), objects);
    QCOMPARE(reader->type(reader->topObject()), BinaryPlistReader::Type::Array);
    const std::optional<std::vector<quint64>> refs = reader->arrayRefs(reader->topObject());
    QVERIFY(refs);
    QCOMPARE(*refs, entries);
    std::vector<quint64> keys;
    std::vector<quint64> values;
    QVERIFY(reader->dictionaryRefs(refs->at(2), keys, values));
    QCOMPARE(keys, (std::vector<quint64>{1, 2}));
    QCOMPARE(reader->asciiBytes(keys[1]).value_or(QByteArrayView()), QByteArrayView("folded"));
    QCOMPARE(reader->string(values[0]), QStringLiteral("/samples/Drums/Kick 2.wav"));
    QCOMPARE(reader->type(values[1]), BinaryPlistReader::Type::Utf16String);
    QVERIFY(!reader->asciiBytes(values[1]));
    QCOMPARE(reader->string(values[1]), QStringLiteral("grüße 2.wav"));
    QVERIFY(!reader->integer(values[0]));
    QVERIFY(!reader->arrayRefs(values[0]));
    QVERIFY(!reader->dictionaryRefs(reader->topObject(), keys, values));
    QVERIFY(keys.empty());
    QCOMPARE(reader->type(objects), BinaryPlistReader::Type::Invalid);
    QVERIFY(!reader->string(objects));

    if (TestSupport::haveTool(QStringLiteral("python3"))) {
        const TestSupport::ProcessResult result =
            TestSupport::python(QStringLiteral("import plistlib,sys\n"
                                               "v = plistlib.loads(sys.stdin.buffer.read())\n"
                                               "print(len(v), v[7]['path'], v[8]['folded'])\n"),
                                {}, document);
        QVERIFY2(result.exitCode == 0, result.err.constData());
        QCOMPARE(QString::fromUtf8(result.out).trimmed(),
                 QStringLiteral("300 /samples/Drums/Kick 7.wav grüße 8.wav"));
    }
}

void TestBinaryPlist::writerRefusesInconsistentDocuments_data()
{
    QTest::addColumn<int>("mistake");
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
    writer.writeBool(true);
    if (mistake != 0)
        writer.writeInteger(-7);
    if (mistake == 1)
        writer.writeNull();
    QVERIFY(writer.finish(mistake == 3 ? 3 : 0).isEmpty());
}

void TestBinaryPlist::refusesUnsupportedValues_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("point") << QVariant(QPoint(1, 2));
    QTest::newRow("point in a list") << QVariant(QVariantList{1, QPoint(1, 2)});
    QTest::newRow("point in a map")
        << QVariant(QVariantMap{{QStringLiteral("a"), QVariantList{QPoint()}}});
    QTest::newRow("invalid date") << QVariant(QDateTime());
}

void TestBinaryPlist::refusesUnsupportedValues()
{
    QFETCH(QVariant, value);
    QVERIFY(!BinaryPlist::write(value));
}

QTEST_GUILESS_MAIN(TestBinaryPlist)
#include "tst_binaryplist.moc"
