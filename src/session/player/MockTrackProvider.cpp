#include "session/player/MockTrackProvider.h"

namespace MockTrackProvider {

const NowPlayingTrack &demoTrack()
{
    static const NowPlayingTrack track = [] {
        NowPlayingTrack t;
        t.title = QStringLiteral("Lanterns on the River");
        t.artist = QStringLiteral("Demo Artist");
        t.album = QStringLiteral("Demo Album");
        t.duration = 42.0;
        t.elapsed = 19.8;
        t.isPlaying = true;
        t.sourceBundleIdentifier = QStringLiteral("com.apple.Music");
        return t;
    }();
    return track;
}

const QList<SyncedLine> &demoLines()
{
    static const QList<SyncedLine> lines{
        {2.0, QStringLiteral("We carried paper lanterns down to the water")},
        {7.0, QStringLiteral("The evening folded softly into blue")},
        {12.0, QStringLiteral("I kept a little light for you")},
        {16.5, QStringLiteral("Let it drift, let it go")},
        {20.0, QStringLiteral("Every ripple knows the way back home")},
        {25.0, QStringLiteral("Hold on to the glow")},
        {30.5, QStringLiteral("When the morning comes we'll still be here")},
        {36.0, QStringLiteral("Lanterns on the river, burning clear")},
    };
    return lines;
}

const QList<LearnedCardVM> &demoCards()
{
    static const QList<LearnedCardVM> cards = [] {
        struct Text
        {
            const char *en;
            const char *cn;
            const char *note;
            const char *example;
            const char *tag;
        };
        const Text texts[] = {
            {"carry down to", "带到……去", "carry 表示拿着移动，down to 指向较低处的目的地。",
             "We carried the boxes down to the car.", "phrase"},
            {"fold into", "融入；渐渐变成", "原义是折叠进去，这里比喻傍晚慢慢变成夜色。",
             "The afternoon folded into a quiet night.", "metaphor"},
            {"keep a light for someone", "为某人留一盏灯", "表示一直等待、惦记某人。",
             "My mother always keeps a light for me.", "idiom"},
            {"let it go", "放手；随它去吧", "口语中常用来劝人不要执着。", "It's only a game, let it go.",
             "expression"},
            {"know the way back", "认得回来的路", "way back 指返回的路线。",
             "Don't worry, the dog knows the way back.", "phrase"},
            {"hold on to", "紧紧抓住；坚持", "to 是介词，后接名词或代词。", "Hold on to your ticket.",
             "phrasal verb"},
            {"burn clear", "燃得明亮", "clear 在这里作副词性补语，形容火光清澈明亮。",
             "The candle burned clear all night.", "collocation"},
        };
        QList<LearnedCardVM> list;
        for (const Text &t : texts) {
            LearnedCardVM card;
            card.en = QString::fromUtf8(t.en);
            card.cn = QString::fromUtf8(t.cn);
            card.note = QString::fromUtf8(t.note);
            card.example = QString::fromUtf8(t.example);
            card.tag = QString::fromUtf8(t.tag);
            card.id = card.en + QLatin1Char('|') + card.tag;
            list.append(card);
        }
        return list;
    }();
    return cards;
}

std::unique_ptr<PlayerViewModel> demoViewModel(PlayerViewModelDependencies dependencies)
{
    auto model = std::make_unique<PlayerViewModel>([] { return ContinuousClock::system()->now(); },
                                                   std::move(dependencies));
    model->applySongState(demoTrack(), LyricsResult::synced(QString(), demoLines()), demoCards(), std::nullopt);
    return model;
}

} // namespace MockTrackProvider
