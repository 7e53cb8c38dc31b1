#include "platform/Preferences.h"
#include "tags/FinderTagsIO.h"
#include "tags/TagNameLearner.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

// "name\nindex" per entry, split at the last line feed so that names may hold line feeds too.
QList<FinderTagsIO::Entry> entries(const QStringList &strings)
{
    QList<FinderTagsIO::Entry> result;
    for (const QString &string : strings) {
        const qsizetype lf = string.lastIndexOf(QLatin1Char('\n'));
        result.append({string.left(lf), string.mid(lf + 1).toLongLong()});
    }
    return result;
}

// Element 1 is red (index 6), 2 orange (7), 3 yellow (5), 4 green (2), 5 blue (4), 6 purple
// (3), 7 gray (1).
QStringList list(const QString &red, const QString &blue = {}, const QString &gray = {})
{
    return {QString(), red, QString(), QString(), QString(), blue, QString(), gray};
}

} // namespace

class TestTagNameLearner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void learntNames_data()
    {
        QTest::addColumn<QList<QStringList>>("files");
        QTest::addColumn<QStringList>("previous"); // empty: no stored list
        QTest::addColumn<QStringList>("expected"); // empty: nothing stored

        QTest::newRow("nothing seen, nothing stored")
            << QList<QStringList>{{s("Work\n0")}} << QStringList() << QStringList();
        QTest::newRow("one file") << QList<QStringList>{{s("Rot\n6"), s("Work\n0"), s("Blau\n4")}}
                                  << QStringList() << list(s("Rot"), s("Blau"));
        QTest::newRow("most often wins")
            << QList<QStringList>{{s("Red\n6")}, {s("Rot\n6")}, {s("Rot\n6"), s("Grau\n1")}}
            << QStringList() << list(s("Rot"), {}, s("Grau"));
        QTest::newRow("tie goes to the first seen")
            << QList<QStringList>{{s("Rouge\n6")}, {s("Rot\n6")}, {s("Rot\n6")}, {s("Rouge\n6")}}
            << QStringList() << list(s("Rouge"));
        QTest::newRow("empty names and line feeds are not names")
            << QList<QStringList>{{s("\n6")}, {s("\n6")}, {s("Ro\nt\n6")}, {s("Rot\n6")}}
            << QStringList() << list(s("Rot"));
        QTest::newRow("only unusable names")
            << QList<QStringList>{{s("\n6"), s("A\nB\n4")}} << QStringList() << QStringList();
        QTest::newRow("unseen colours keep their names")
            << QList<QStringList>{{s("Rosso\n6")}} << list(s("Rot"), s("Blau"))
            << list(s("Rosso"), s("Blau"));
        QTest::newRow("short stored list is replaced")
            << QList<QStringList>{{s("Rot\n6")}} << QStringList{s(""), s("Red")} << list(s("Rot"));
    }
    void learntNames()
    {
        QFETCH(QList<QStringList>, files);
        QFETCH(QStringList, previous);
        QFETCH(QStringList, expected);

        QTemporaryDir dir;
        const QString path = dir.filePath(s("prefs.plist"));
        {
            Preferences defaults(path);
            if (!previous.isEmpty())
                defaults.setObject(previous, s("FavoriteTagNames"));
            TagNameLearner learner;
            for (const QStringList &file : files)
                learner.record(entries(file));
            learner.storeInto(defaults);
        }
        // Read back from the file: the list survives a restart.
        const Preferences reread(path);
        const std::optional<QStringList> stored = FinderTagsIO::favoriteTagNames(reread);
        if (expected.isEmpty())
            QCOMPARE(stored, std::nullopt);
        else
            QCOMPARE(stored, std::optional(expected));
    }
};

QTEST_GUILESS_MAIN(TestTagNameLearner)
#include "tst_tag_name_learner.moc"
