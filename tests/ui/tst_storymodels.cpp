#include "session/player/PlayerViewModel.h"
#include "ui/design/FrameClock.h"
#include "ui/library/StoryButtonModel.h"
#include "ui/library/StoryOverlayModel.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

NowPlayingTrack track(const QString &title)
{
    NowPlayingTrack t;
    t.title = title;
    t.artist = QStringLiteral("The Artist");
    return t;
}

SongStory story(const QString &article)
{
    return SongStory{QStringLiteral("Song Title"), QStringLiteral("The Artist"), article, SongStorySource::Remote};
}

} // namespace

class TstStoryModels : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<PlayerViewModel> m_vm;

private slots:
    void init()
    {
        m_settings = std::make_unique<QSettings>(m_dir.filePath("d.ini"), QSettings::IniFormat);
        PlayerViewModelDependencies deps;
        deps.settings = m_settings.get();
        m_vm = std::make_unique<PlayerViewModel>([] { return ContinuousInstant{}; }, deps);
    }

    void visibility_data()
    {
        QTest::addColumn<bool>("hasTrack");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("hasStory");
        QTest::addColumn<bool>("shown");
        for (int mask = 0; mask < 8; ++mask) {
            const bool t = mask & 1, o = mask & 2, s = mask & 4;
            QTest::addRow("track=%d open=%d story=%d", t, o, s) << t << o << s << (t && o && s);
        }
    }

    void visibility()
    {
        QFETCH(bool, hasTrack);
        QFETCH(bool, open);
        QFETCH(bool, hasStory);
        QFETCH(bool, shown);
        StoryOverlayModel model;
        model.setVm(m_vm.get());
        if (hasTrack)
            m_vm->setTrack(track("A"));
        if (hasStory)
            m_vm->setCurrentStory(story("EN:\nText"));
        m_vm->setIsStoryModalOpen(open);
        QCOMPARE(model.shown(), shown);
    }

    void sections_data()
    {
        QTest::addColumn<QString>("article");
        QTest::addColumn<QString>("titleEN");
        QTest::addColumn<QString>("titleCN");
        QTest::addColumn<QString>("year");
        QTest::addColumn<QString>("genre");
        QTest::addColumn<QStringList>("moods");
        QTest::addColumn<QString>("quote");
        QTest::addColumn<QStringList>("english");
        QTest::addColumn<QStringList>("chinese");
        QTest::addColumn<bool>("divider");

        QTest::newRow("no tags: the whole article as one paragraph")
            << "  Just a plain story.\n\nTwo lines.  " << "Song Title" << "" << "" << "" << QStringList() << ""
            << QStringList{"Just a plain story.\n\nTwo lines."} << QStringList() << false;
        QTest::newRow("blank") << "   \n " << "Song Title" << "" << "" << "" << QStringList() << ""
                               << QStringList() << QStringList() << false;
        QTest::newRow("year only") << "YEAR: 1999\nGENRE: \nEN:\nText" << "Song Title" << "" << "1999" << ""
                                   << QStringList() << "" << QStringList{"Text"} << QStringList() << false;
        QTest::newRow("empty quote, both languages")
            << "TITLE: Night\nTITLE_CN: 夜\nQUOTE: \"\"\nMOOD: a, b, c, d, e, f, g\nEN:\nOne\n\nTwo\nCN:\n中文"
            << "Night" << "夜" << "" << "" << QStringList{"a", "b", "c", "d", "e"} << ""
            << QStringList{"One", "Two"} << QStringList{"中文"} << true;
    }

    void sections()
    {
        QFETCH(QString, article);
        StoryOverlayModel model;
        model.setVm(m_vm.get());
        m_vm->setTrack(track("A"));
        m_vm->setCurrentStory(story(article));
        QTEST(model.titleEN(), "titleEN");
        QTEST(model.titleCN(), "titleCN");
        QTEST(model.yearText(), "year");
        QTEST(model.genre(), "genre");
        QTEST(model.moodTags(), "moods");
        QTEST(model.quote(), "quote");
        QTEST(model.paragraphsEN(), "english");
        QTEST(model.paragraphsCN(), "chinese");
        QTEST(model.hasDivider(), "divider");
        QCOMPARE(model.artist(), QStringLiteral("The Artist"));
    }

    void newSongCloses()
    {
        StoryOverlayModel model;
        model.setVm(m_vm.get());
        m_vm->setTrack(track("A"));
        m_vm->setCurrentStory(story("EN:\nText"));
        m_vm->setIsStoryModalOpen(true);
        QVERIFY(model.shown());
        QSignalSpy shown(&model, &StoryOverlayModel::shownChanged);
        m_vm->resetForNewSong(track("B"));
        QVERIFY(!model.shown());
        QCOMPARE(shown.count(), 1);
        QVERIFY(model.paragraphsEN().isEmpty());
        model.dismiss(); // dismissing a closed overlay changes nothing
        QVERIFY(!m_vm->isStoryModalOpen());
    }

    void buttonLooks()
    {
        StoryButtonModel button;
        button.setVm(m_vm.get());
        m_vm->setTrack(track("A"));
        QVERIFY(!button.isReady());
        QCOMPARE(button.accessibleName(), QStringLiteral("Song story"));
        QCOMPARE(button.helpText(), QStringLiteral("Song Story"));
        button.press(); // no story: nothing
        QVERIFY(!m_vm->isStoryModalOpen());

        m_vm->setCurrentStory(story("EN:\nText"));
        QVERIFY(button.isReady());
        QCOMPARE(button.accessibleName(), QStringLiteral("Show song story (ready)"));
        QCOMPARE(button.helpText(), QStringLiteral("Show Song Story"));
        button.press();
        QVERIFY(m_vm->isStoryModalOpen());
        QVERIFY(!button.isReady()); // idle while the overlay is open
        m_vm->setIsStoryModalOpen(false);
        QVERIFY(button.isReady());
    }

    void breathing_data()
    {
        QTest::addColumn<double>("phase");
        QTest::addColumn<double>("opacity");
        QTest::newRow("0") << 0.0 << 0.85;
        QTest::newRow("0.25") << 0.25 << 1.0;
        QTest::newRow("0.5") << 0.5 << 0.85;
        QTest::newRow("0.75") << 0.75 << 0.7;
    }

    void breathing()
    {
        QFETCH(double, phase);
        QFETCH(double, opacity);
        ManualContinuousClock clock(ContinuousInstant::fromSeconds(100 * StoryButtonModel::breathPeriod +
                                                                   phase * StoryButtonModel::breathPeriod));
        FrameClock frames(&clock);
        StoryButtonModel button;
        button.setVm(m_vm.get());
        button.setFrameClock(&frames);
        m_vm->setCurrentStory(story("EN:\nText"));
        QVERIFY(button.isGlowing());
        QVERIFY(frames.isRunning());
        QVERIFY(std::abs(button.glowOpacity() - opacity) < 1e-6);
        // A frame half a period later is on the other side of the swing.
        clock.advance(std::chrono::milliseconds(1250));
        QTRY_VERIFY(std::abs(button.glowOpacity() - (1.7 - opacity)) < 0.02);
    }

    void noTimerWhenNotNeeded_data()
    {
        QTest::addColumn<bool>("hasStory");
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("open");
        QTest::newRow("idle") << false << false << true << false;
        QTest::newRow("reduce motion") << true << true << true << false;
        QTest::newRow("hidden") << true << false << false << false;
        QTest::newRow("overlay open") << true << false << true << true;
    }

    void noTimerWhenNotNeeded()
    {
        QFETCH(bool, hasStory);
        QFETCH(bool, reduceMotion);
        QFETCH(bool, shown);
        QFETCH(bool, open);
        ManualContinuousClock clock;
        FrameClock frames(&clock);
        StoryButtonModel button;
        button.setVm(m_vm.get());
        button.setFrameClock(&frames);
        // Start glowing first, so the test also sees the clock let go.
        m_vm->setCurrentStory(story("EN:\nText"));
        QVERIFY(frames.isRunning());
        if (!hasStory)
            m_vm->setCurrentStory(std::nullopt);
        button.setReduceMotion(reduceMotion);
        button.setShown(shown);
        m_vm->setIsStoryModalOpen(open);
        QVERIFY(!frames.isRunning());
        QVERIFY(!button.isGlowing());
        QCOMPARE(button.glowOpacity(), 1.0);
    }
};

QTEST_MAIN(TstStoryModels)
#include "tst_storymodels.moc"
