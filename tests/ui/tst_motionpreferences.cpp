// Reduce Motion from the environment and from a fake desktop settings portal on a private bus:
// the initial read, live changes (one notification per real change), and a portal that does
// not answer.

#include "ui/design/MotionPreferences.h"

#include "FakeSettingsPortal.h"
#include "PrivateSessionBus.h"

#include <QSignalSpy>
#include <QTest>

class MotionPreferencesTest : public QObject
{
    Q_OBJECT

private slots:
    void environmentDecidesFirst_data();
    void environmentDecidesFirst();
    void desktopSettings_data();
    void desktopSettings();
    void followsChangesLive();
    void lateReadDoesNotUndoALiveChange();
    void offWithoutAPortal();

private:
    int m_connections = 0;
    QString nextName() { return QStringLiteral("motion-%1").arg(++m_connections); }
};

void MotionPreferencesTest::environmentDecidesFirst_data()
{
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<bool>("reduce");
    // The portal says "reduce"; only a value the variable does not know leaves it in charge.
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("0 beats the portal") << QByteArray("0") << false;
    QTest::newRow("unset") << QByteArray() << true;
    QTest::newRow("other text is ignored") << QByteArray("yes") << true;
}

void MotionPreferencesTest::environmentDecidesFirst()
{
    QFETCH(QByteArray, environment);
    QFETCH(bool, reduce);
    PrivateSessionBus bus;
    QVERIFY(bus.isRunning());
    FakeSettingsPortal portal(bus.connect(nextName()));
    portal.set(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"), false);
    QVERIFY(portal.publish());

    MotionPreferences prefs(environment, bus.connect(nextName()));
    QTRY_COMPARE(prefs.reduceMotion(), reduce);
    QTest::qWait(50); // no late change either
    QCOMPARE(prefs.reduceMotion(), reduce);
}

void MotionPreferencesTest::desktopSettings_data()
{
    QTest::addColumn<QString>("ns");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("reduce");
    const QString appearance = QStringLiteral("org.freedesktop.appearance");
    const QString gnome = QStringLiteral("org.gnome.desktop.interface");
    const QString kde = QStringLiteral("org.kde.kdeglobals.KDE");
    QTest::newRow("appearance: reduce") << appearance << "reduced-motion" << QVariant(uint(1)) << true;
    QTest::newRow("appearance: no preference") << appearance << "reduced-motion" << QVariant(uint(0)) << false;
    QTest::newRow("GNOME: animations off") << gnome << "enable-animations" << QVariant(false) << true;
    QTest::newRow("GNOME: animations on") << gnome << "enable-animations" << QVariant(true) << false;
    QTest::newRow("KDE: factor 0") << kde << "AnimationDurationFactor" << QVariant(0.0) << true;
    QTest::newRow("KDE: factor 0.5") << kde << "AnimationDurationFactor" << QVariant(0.5) << false;
    QTest::newRow("GNOME: wrong type") << gnome << "enable-animations" << QVariant(QStringLiteral("false")) << false;
}

void MotionPreferencesTest::desktopSettings()
{
    QFETCH(QString, ns);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, reduce);
    PrivateSessionBus bus;
    FakeSettingsPortal portal(bus.connect(nextName()));
    portal.set(ns, key, value);
    QVERIFY(portal.publish());
    if (value.typeId() == QMetaType::QString)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unexpected type"));

    MotionPreferences prefs(QByteArray(), bus.connect(nextName()));
    QSignalSpy changed(&prefs, &MotionPreferences::reduceMotionChanged);
    QTest::qWait(100); // all three reads answered
    QCOMPARE(prefs.reduceMotion(), reduce);
    QCOMPARE(changed.count(), reduce ? 1 : 0);
}

void MotionPreferencesTest::followsChangesLive()
{
    PrivateSessionBus bus;
    FakeSettingsPortal portal(bus.connect(nextName()));
    const QString gnome = QStringLiteral("org.gnome.desktop.interface");
    const QString key = QStringLiteral("enable-animations");
    portal.set(gnome, key, true);
    QVERIFY(portal.publish());

    MotionPreferences prefs(QByteArray(), bus.connect(nextName()));
    QSignalSpy changed(&prefs, &MotionPreferences::reduceMotionChanged);
    QTest::qWait(100);
    QCOMPARE(prefs.reduceMotion(), false);

    portal.change(gnome, key, false);
    QTRY_COMPARE(prefs.reduceMotion(), true);
    QCOMPARE(changed.count(), 1);

    // The same value again, and a setting that leaves the outcome as it is: no notification.
    portal.change(gnome, key, false);
    portal.change(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("reduced-motion"), QVariant(uint(1)));
    portal.change(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"), QVariant(uint(1)));
    QTest::qWait(100);
    QCOMPARE(changed.count(), 1);

    portal.change(gnome, key, true);
    portal.change(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("reduced-motion"), QVariant(uint(0)));
    QTRY_COMPARE(prefs.reduceMotion(), false);
    QTest::qWait(50);
    QCOMPARE(changed.count(), 2);
}

void MotionPreferencesTest::lateReadDoesNotUndoALiveChange()
{
    PrivateSessionBus bus;
    FakeSettingsPortal portal(bus.connect(nextName()));
    const QString gnome = QStringLiteral("org.gnome.desktop.interface");
    const QString key = QStringLiteral("enable-animations");
    portal.set(gnome, key, true);
    portal.holdReads();
    QVERIFY(portal.publish());

    MotionPreferences prefs(QByteArray(), bus.connect(nextName()));
    QTest::qWait(50);
    portal.change(gnome, key, false); // live, while the first read is still pending
    QTRY_COMPARE(prefs.reduceMotion(), true);
    portal.set(gnome, key, true); // the answer to the old read carries the old value
    portal.releaseReads();
    QTest::qWait(100);
    QCOMPARE(prefs.reduceMotion(), true);
}

void MotionPreferencesTest::offWithoutAPortal()
{
    PrivateSessionBus bus;
    MotionPreferences prefs(QByteArray(), bus.connect(nextName()));
    QSignalSpy changed(&prefs, &MotionPreferences::reduceMotionChanged);
    QTest::qWait(100);
    QCOMPARE(prefs.reduceMotion(), false);
    QCOMPARE(changed.count(), 0);

    MotionPreferences disconnected(QByteArray(), QDBusConnection(QStringLiteral("nothing")));
    QCOMPARE(disconnected.reduceMotion(), false);
}

QTEST_GUILESS_MAIN(MotionPreferencesTest)
#include "tst_motionpreferences.moc"
