// Card slots: one slot per distinct card, the sort order (times, then card ids by Unicode
// scalar value), and the active slot of a playback position.
#include "session/player/CardSlot.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

using Entry = CardSlotExpander::Entry;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Entry entry(const QString &id, std::optional<double> time = std::nullopt)
{
    return Entry{id, time};
}

QStringList ids(const QList<CardSlot> &slotList)
{
    QStringList out;
    for (const CardSlot &slot : slotList)
        out.append(slot.cardId);
    return out;
}

// b 30, x untimed, c 12.5, a 30 — in that input order.
QList<CardSlot> workedExample()
{
    return CardSlotExpander::expand({entry("b", 30.0), entry("x"), entry("c", 12.5), entry("a", 30.0)});
}

} // namespace

Q_DECLARE_METATYPE(QList<Entry>)

class TestCardSlot : public QObject
{
    Q_OBJECT

private slots:
    void expandOrder_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("empty") << QList<Entry>{} << QStringList{};
        QTest::newRow("times, then ids among equal times, untimed last")
            << QList<Entry>{entry("b", 30.0), entry("x"), entry("c", 12.5), entry("a", 30.0)}
            << QStringList{"c", "a", "b", "x"};
        QTest::newRow("negative and NaN times sort among the untimed by id")
            << QList<Entry>{entry("m", -1.0), entry("z", 1.0), entry("a"), entry("n", kNaN)}
            << QStringList{"z", "a", "m", "n"};
        QTest::newRow("zero, negative zero and infinity are times")
            << QList<Entry>{entry("inf", kInf), entry("b", -0.0), entry("a", 0.0), entry("u")}
            << QStringList{"a", "b", "inf", "u"};
        QTest::newRow("upper case before lower case")
            << QList<Entry>{entry("a|t"), entry("Z|t"), entry("B|t")} << QStringList{"B|t", "Z|t", "a|t"};
        // By scalar value U+FF01 comes before U+1F600; by UTF-16 code unit the emoji (D83D…)
        // would come first.
        QTest::newRow("characters outside the BMP by scalar value")
            << QList<Entry>{entry(QStringLiteral("\U0001F600")), entry(QStringLiteral("\uFF01"))}
            << QStringList{QStringLiteral("\uFF01"), QStringLiteral("\U0001F600")};
        QTest::newRow("duplicate ids: first occurrence and its time win")
            << QList<Entry>{entry("a", 50.0), entry("b", 10.0), entry("a", 1.0)} << QStringList{"b", "a"};
    }

    void expandOrder()
    {
        QFETCH(QList<Entry>, entries);
        QFETCH(QStringList, expected);
        QCOMPARE(ids(CardSlotExpander::expand(entries)), expected);
    }

    void slotFields()
    {
        const QList<CardSlot> slotList = CardSlotExpander::expand(
            {entry("a", 50.0), entry("c", -1.0), entry("a", 1.0), entry("n", kNaN), entry("z", 12.5)});
        QCOMPARE(slotList.size(), 4);
        QCOMPARE(slotList.at(0), (CardSlot{"z#1/1", "z", 12.5, std::nullopt}));
        QCOMPARE(slotList.at(1), (CardSlot{"a#1/1", "a", 50.0, std::nullopt}));
        QCOMPARE(slotList.at(2), (CardSlot{"c#1/1", "c", std::nullopt, std::nullopt}));
        QCOMPARE(slotList.at(3), (CardSlot{"n#1/1", "n", std::nullopt, std::nullopt}));
        for (const CardSlot &slot : slotList)
            QVERIFY(!slot.repeatLabel);
    }

    // Every input order of distinct cards gives the same slots: the order is total even with
    // NaN, negative, infinite and missing times and canonically equivalent ids.
    void sortIsTotalWhateverTheInputOrder()
    {
        QList<Entry> entries{entry("a", kNaN), entry("b", 3.0), entry("c", 3.0), entry("d"), entry("e", -2.0),
                             entry("f", kInf), entry("g", 0.0), entry("h", -0.0), entry("i", kNaN),
                             entry(QStringLiteral("\u00e9|t"), 3.0), entry(QStringLiteral("e\u0301|t"), 3.0)};
        const QList<CardSlot> reference = CardSlotExpander::expand(entries);
        std::mt19937 random(42);
        for (int round = 0; round < 200; ++round) {
            std::shuffle(entries.begin(), entries.end(), random);
            QCOMPARE(CardSlotExpander::expand(entries), reference);
        }
    }

    void activeSlot_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<QString>("expected"); // "" for none

        QTest::newRow("later of two slots at 30") << 30.0 << "b#1/1";
        QTest::newRow("just before the first time") << 12.4 << "";
        QTest::newRow("exactly the first time") << 12.5 << "c#1/1";
        QTest::newRow("between times") << 29.999 << "c#1/1";
        QTest::newRow("far past the end: untimed slots are never active") << 1e9 << "b#1/1";
        QTest::newRow("NaN") << kNaN << "";
        QTest::newRow("infinity") << kInf << "b#1/1";
    }

    void activeSlot()
    {
        QFETCH(double, t);
        QFETCH(QString, expected);
        const std::optional<QString> active = CardSlotExpander::activeSlotId(workedExample(), t);
        QCOMPARE(active.value_or(QString()), expected);
    }

    void activeSlotOnEmptyList()
    {
        QVERIFY(!CardSlotExpander::activeSlotId({}, 0.0));
        QVERIFY(!CardSlotExpander::activeSlotId({}, 1e9));
    }
};

QTEST_GUILESS_MAIN(TestCardSlot)
#include "tst_cardslot.moc"
