// The design system's rules with numbers, without any view: palette, motion formulas, hue and
// drift, modal sizes, progress fractions, relative times, badge texts, the capsule hit test,
// particles, and the animation gate's table.

#include "ui/design/AnimationActivityView.h"
#include "ui/design/Badges.h"
#include "ui/design/CTStyle.h"
#include "ui/design/Icon.h"
#include "ui/design/MeshFieldGrid.h"
#include "ui/design/MeshGradient.h"
#include "ui/design/ModalSizing.h"
#include "ui/design/Motion.h"
#include "ui/design/ParticleCanvas.h"
#include "ui/design/ProgressFractions.h"
#include "ui/design/RelativeTime.h"

#include <QSignalSpy>
#include "ui/design/Theme.h"

#include <QPainter>
#include <QTest>

#include <cmath>
#include <limits>

namespace {
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
}

class DesignRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void accentsAreExactEightBitValues_data();
    void accentsAreExactEightBitValues();
    void whiteTintsAreWhiteWithOpacity();

    void phaseAndBreathe_data();
    void phaseAndBreathe();
    void curvesAreTheExactBeziers_data();
    void curvesAreTheExactBeziers();

    void hue_data();
    void hue();
    void driftProgress_data();
    void driftProgress();
    void stillFieldStaysWhilePlaybackMoves();
    void driftKeepsTheViewCovered_data();
    void driftKeepsTheViewCovered();
    void fieldColours_data();
    void fieldColours();

    void modalSize_data();
    void modalSize();
    void progressFractions_data();
    void progressFractions();

    void relativeTime_data();
    void relativeTime();

    void badges_data();
    void badges();
    void capsuleHitShape_data();
    void capsuleHitShape();
    void pressLook_data();
    void pressLook();

    void iconsAreTintedMasks();
    void makeParticles_data();
    void makeParticles();
    void drawnParticleIsAlphaSquared_data();
    void drawnParticleIsAlphaSquared();

    void gateRule_data();
    void gateRule();
    void windowMapping_data();
    void windowMapping();
};

void DesignRulesTest::accentsAreExactEightBitValues_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QString>("hex");
    QTest::newRow("accentGold") << Theme::accentGold() << "#e8c36a";
    QTest::newRow("neonCyan") << Theme::neonCyan() << "#22e9ff";
    QTest::newRow("neonPink") << Theme::neonPink() << "#ff4fd8";
    QTest::newRow("neonViolet") << Theme::neonViolet() << "#a06bff";
    QTest::newRow("neonBlue") << Theme::neonBlue() << "#5b8bff";
    QTest::newRow("backgroundInk") << Theme::backgroundInk() << "#06030f";
}

void DesignRulesTest::accentsAreExactEightBitValues()
{
    QFETCH(QColor, colour);
    QFETCH(QString, hex);
    QCOMPARE(colour.name(), hex);
    QCOMPARE(colour.alpha(), 255);
}

void DesignRulesTest::whiteTintsAreWhiteWithOpacity()
{
    // White with opacity, not grey: over a neon fill the hue must show through.
    const std::pair<QColor, double> tints[] = {
        {Theme::textSecondary(), 0.7}, {Theme::textTertiary(), 0.45}, {Theme::surfaceFaint(), 0.05},
        {Theme::surfaceFill(), 0.1},   {Theme::surfaceFillStrong(), 0.15}, {Theme::strokeSubtle(), 0.12},
        {Theme::strokeStrong(), 0.2}};
    for (const auto &[c, opacity] : tints) {
        QCOMPARE(c.rgb() & 0xffffff, 0xffffffu);
        QCOMPARE(qRound(c.alphaF() * 100), qRound(opacity * 100));
    }
}

void DesignRulesTest::phaseAndBreathe_data()
{
    QTest::addColumn<double>("t");
    QTest::addColumn<double>("period");
    QTest::addColumn<double>("phase");
    QTest::addColumn<double>("breathe"); // base 0.55, amplitude 0.4

    QTest::newRow("period 0") << 3.0 << 0.0 << 0.0 << 0.75;
    QTest::newRow("negative period") << 3.0 << -1.0 << 0.0 << 0.75;
    QTest::newRow("negative time wraps") << -1.0 << 4.0 << 0.75 << 0.55;
    QTest::newRow("cycle start") << 0.0 << 5.0 << 0.0 << 0.75;
    QTest::newRow("quarter: top") << 1.25 << 5.0 << 0.25 << 0.95;
    QTest::newRow("three quarters: bottom") << 3.75 << 5.0 << 0.75 << 0.55;
    QTest::newRow("next cycle") << 11.25 << 5.0 << 0.25 << 0.95;
}

void DesignRulesTest::phaseAndBreathe()
{
    QFETCH(double, t);
    QFETCH(double, period);
    QFETCH(double, phase);
    QFETCH(double, breathe);
    QVERIFY(std::abs(Motion::phase(t, period) - phase) < 1e-12);
    QVERIFY(std::abs(Motion::breathe(t, period, 0.55, 0.4) - breathe) < 1e-12);
}

void DesignRulesTest::curvesAreTheExactBeziers_data()
{
    QTest::addColumn<MotionCurve>("curve");
    QTest::addColumn<double>("at");
    QTest::addColumn<double>("expected");
    QTest::addColumn<int>("durationMs");
    // Reference values of the cubic béziers (0.42,0,0.58,1), (0,0,0.58,1), (0.42,0,1,1).
    QTest::newRow("tab switch, ease-in-out") << Motion::Curve::tabSwitch << 0.25 << 0.1291 << 320;
    QTest::newRow("crossfade, ease-in-out midpoint") << Motion::Curve::crossfade << 0.5 << 0.5 << 400;
    QTest::newRow("ease-out short") << Motion::Curve::easeOutShort << 0.25 << 0.3781 << 300;
    QTest::newRow("ease-in short") << Motion::Curve::easeInShort << 0.75 << 0.6219 << 250;
    QTest::newRow("toast") << Motion::Curve::toast << 0.75 << 0.8709 << 200;
    QTest::newRow("press") << Motion::Curve::press << 0.25 << 0.1291 << 120;
    QTest::newRow("preflight, linear") << Motion::Curve::preflight << 0.3 << 0.3 << 2000;
}

void DesignRulesTest::curvesAreTheExactBeziers()
{
    QFETCH(MotionCurve, curve);
    QFETCH(double, at);
    QFETCH(double, expected);
    QFETCH(int, durationMs);
    QVERIFY2(std::abs(curve.easing().valueForProgress(at) - expected) < 2e-3,
             qPrintable(QString::number(curve.easing().valueForProgress(at))));
    QCOMPARE(curve.durationMs(), durationMs);
}

void DesignRulesTest::hue_data()
{
    QTest::addColumn<double>("t");
    QTest::addColumn<double>("hue");
    QTest::newRow("start: magenta") << 0.0 << 315.0;
    QTest::newRow("one cycle later") << 14.0 << 315.0;
    QTest::newRow("p = 0.33: cyan") << 4.62 << 190.0;
    QTest::newRow("p = 0.66: violet") << 9.24 << 275.0;
    QTest::newRow("half of the first third") << 2.31 << 252.5;
    QTest::newRow("half of the last third") << 11.62 << 295.0;
    QTest::newRow("negative time wraps") << -7.0 << MeshGradientPalette::hueAt(7.0);
    QTest::newRow("not a number") << notANumber << 315.0;
}

void DesignRulesTest::hue()
{
    QFETCH(double, t);
    QFETCH(double, hue);
    QVERIFY2(std::abs(MeshGradientPalette::hueAt(t) - hue) < 0.01, qPrintable(QString::number(MeshGradientPalette::hueAt(t))));
}

void DesignRulesTest::driftProgress_data()
{
    QTest::addColumn<double>("t");
    QTest::addColumn<double>("e");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QPointF>("offset");
    QTest::newRow("rest") << 0.0 << 0.0 << 1.0 << QPointF(0, 0);
    QTest::newRow("half a cycle") << 7.0 << 0.5 << 1.025 << QPointF(10, -10);
    QTest::newRow("just before the end") << 13.999 << 1.0 << 1.05 << QPointF(20, -20);
    QTest::newRow("next cycle: rest again") << 14.0 << 0.0 << 1.0 << QPointF(0, 0);
    QTest::newRow("negative time clamps to rest") << -7.0 << 0.0 << 1.0 << QPointF(0, 0);
    QTest::newRow("not a number: end of cycle") << notANumber << 1.0 << 1.05 << QPointF(20, -20);
}

void DesignRulesTest::driftProgress()
{
    QFETCH(double, t);
    QFETCH(double, e);
    QFETCH(double, scale);
    QFETCH(QPointF, offset);
    MeshDrift drift; // the panel's values are the defaults
    drift.setElapsed(t);
    QVERIFY(std::abs(MeshGradient::driftProgress(t, 14) - e) < 1e-5);
    if (t > 0) { // a still field at elapsed ≤ 0 rests
        QVERIFY(std::abs(drift.scale() - scale) < 1e-5);
        QVERIFY(std::abs(drift.offset().x() - offset.x()) < 1e-4);
        QVERIFY(std::abs(drift.offset().y() - offset.y()) < 1e-4);
    } else {
        QCOMPARE(drift.progress(), 0.0);
    }
}

void DesignRulesTest::stillFieldStaysWhilePlaybackMoves()
{
    MeshDrift drift;
    drift.setElapsed(0.0);
    drift.setElapsed(7.0); // the first position places the still field
    QCOMPARE(drift.progress(), 0.5);
    QSignalSpy moved(&drift, &MeshDrift::transformChanged);
    for (double t = 7.1; t < 9; t += 0.1)
        drift.setElapsed(t);
    QCOMPARE(moved.count(), 0);
    // Going still again places it from the position of that moment.
    drift.setAnimating(true);
    drift.setElapsed(3.5);
    drift.setAnimating(false);
    QVERIFY(std::abs(drift.progress() - MeshGradient::driftProgress(3.5, 14)) < 1e-9);
}

void DesignRulesTest::driftKeepsTheViewCovered_data()
{
    QTest::addColumn<QSizeF>("view");
    QTest::addColumn<double>("maxDriftX");
    QTest::addColumn<double>("maxDriftY");
    QTest::addColumn<double>("maxScale");
    // The 360-point lyrics panel at the window's two sizes, and a wider one.
    QTest::newRow("panel of the 800 x 950 window") << QSizeF(360, 950) << 20.0 << -20.0 << 1.05;
    QTest::newRow("panel of the 680 x 800 window") << QSizeF(360, 800) << 20.0 << -20.0 << 1.05;
    QTest::newRow("wider panel") << QSizeF(440, 950) << 20.0 << -20.0 << 1.05;
    QTest::newRow("small view, drift beyond the growth") << QSizeF(120, 90) << 20.0 << -20.0 << 1.05;
    QTest::newRow("shrinking field") << QSizeF(320, 800) << -15.0 << 25.0 << 0.95;
    QTest::newRow("no drift") << QSizeF(320, 800) << 0.0 << 0.0 << 1.0;
}

void DesignRulesTest::driftKeepsTheViewCovered()
{
    QFETCH(QSizeF, view);
    QFETCH(double, maxDriftX);
    QFETCH(double, maxDriftY);
    QFETCH(double, maxScale);
    const QRectF viewRect(QPointF(0, 0), view);
    const double margin = MeshGradient::overscan(view.width(), view.height(), maxDriftX, maxDriftY, maxScale);
    QVERIFY(margin >= 0);
    double widestGap = 0; // what a field drawn only over the view would leave uncovered
    for (int step = 0; step <= 200; ++step) {
        const double e = step / 200.0;
        const QRectF field = MeshGradient::driftedField(view.width(), view.height(), margin, maxDriftX, maxDriftY,
                                                        maxScale, e);
        QVERIFY2(field.adjusted(-1e-9, -1e-9, 1e-9, 1e-9).contains(viewRect),
                 qPrintable(QStringLiteral("e=%1: field %2,%3 %4x%5").arg(e).arg(field.x()).arg(field.y())
                                .arg(field.width()).arg(field.height())));
        const QRectF bare = MeshGradient::driftedField(view.width(), view.height(), 0, maxDriftX, maxDriftY,
                                                       maxScale, e);
        widestGap = std::max({widestGap, bare.left(), bare.top(), view.width() - bare.right(),
                              view.height() - bare.bottom()});
    }
    // Drawn beyond the view only where the drift would uncover a strip.
    QCOMPARE(margin > 0, widestGap > 1e-9);
}

void DesignRulesTest::modalSize_data()
{
    QTest::addColumn<QSizeF>("container");
    QTest::addColumn<QSizeF>("size");
    QTest::newRow("899 wide") << QSizeF(899, 950) << QSizeF(720, 760);
    QTest::newRow("900 wide: drops") << QSizeF(900, 950) << QSizeF(585, 760);
    QTest::newRow("1000 wide") << QSizeF(1000, 400) << QSizeF(650, 304);
    QTest::newRow("1200 wide") << QSizeF(1200, 480) << QSizeF(720, 384);
    QTest::newRow("narrow floor") << QSizeF(400, 200) << QSizeF(384, 240);
    QTest::newRow("wide floor") << QSizeF(900, 1000) << QSizeF(585, 800);
}

void DesignRulesTest::modalSize()
{
    QFETCH(QSizeF, container);
    QFETCH(QSizeF, size);
    const ModalSize s = ModalSizing::size(container);
    QCOMPARE(QSizeF(s.width, s.height), size);
}

void DesignRulesTest::progressFractions_data()
{
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<double>("duration");
    QTest::addColumn<double>("readOnly");
    QTest::addColumn<double>("learnedOfElapsed");
    QTest::newRow("middle") << 30.0 << 120.0 << 0.25 << 1.0;
    QTest::newRow("no duration") << 30.0 << 0.0 << 0.0 << 1.0;
    QTest::newRow("negative duration") << 30.0 << -5.0 << 0.0 << 1.0;
    QTest::newRow("past the end") << 130.0 << 120.0 << 1.0 << 1.0;
    QTest::newRow("negative elapsed") << -0.2 << 120.0 << 0.0 << 0.0;
    QTest::newRow("a fraction") << 0.5 << 1.0 << 0.5 << 0.5;
    QTest::newRow("NaN elapsed") << notANumber << 120.0 << 0.0 << 0.0;
    QTest::newRow("NaN duration") << 30.0 << notANumber << 0.0 << 1.0;
}

void DesignRulesTest::progressFractions()
{
    QFETCH(double, elapsed);
    QFETCH(double, duration);
    QFETCH(double, readOnly);
    QFETCH(double, learnedOfElapsed);
    QCOMPARE(ProgressFractions::readOnly(elapsed, duration), readOnly);
    QCOMPARE(ProgressFractions::learned(elapsed), learnedOfElapsed);
}

void DesignRulesTest::relativeTime_data()
{
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("text");

    const QTimeZone berlin("Europe/Berlin");
    auto at = [&berlin](int y, int mo, int d, int h, int mi, int s = 0) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), berlin);
    };
    const QDateTime now = at(2024, 3, 15, 8, 0);
    QTest::newRow("exactly 60 s") << now.addSecs(-60) << now << "刚刚";
    QTest::newRow("60.5 s") << now.addMSecs(-60500) << now << "1分钟前";
    QTest::newRow("future") << now.addSecs(300) << now << "刚刚";
    QTest::newRow("3600 s") << now.addSecs(-3600) << now << "60分钟前";
    QTest::newRow("3601 s") << now.addSecs(-3601) << now << "1小时前";
    QTest::newRow("at 00:00 today") << at(2024, 3, 15, 0, 0) << now << "8小时前";
    QTest::newRow("20 min over midnight") << at(2024, 3, 14, 23, 50) << at(2024, 3, 15, 0, 10) << "20分钟前";
    QTest::newRow("5 h but yesterday") << at(2024, 3, 14, 22, 0) << at(2024, 3, 15, 3, 0) << "昨天";
    QTest::newRow("23:59 yesterday") << at(2024, 3, 14, 23, 59) << now << "昨天";
    QTest::newRow("start of yesterday") << at(2024, 3, 14, 0, 0) << now << "昨天";
    QTest::newRow("a second before") << at(2024, 3, 13, 23, 59, 59) << now << "3月13日";
    QTest::newRow("earlier year") << at(2023, 12, 31, 12, 0) << at(2024, 1, 2, 9, 0) << "2023年12月31日";
    QTest::newRow("invalid date") << QDateTime() << now << "刚刚";
    // A 23-hour day (clocks forward on 31 March): yesterday starts at 00:00 CET, 23 h before.
    QTest::newRow("short day: hours") << at(2024, 3, 31, 0, 30) << at(2024, 3, 31, 8, 0) << "6小时前";
    QTest::newRow("after a short day: day before") << at(2024, 3, 30, 23, 30) << at(2024, 4, 1, 8, 0) << "3月30日";
    // A 25-hour day (clocks back on 27 October): yesterday's first hour is still yesterday.
    QTest::newRow("after a long day: yesterday") << at(2024, 10, 27, 0, 30) << at(2024, 10, 28, 8, 0) << "昨天";
}

void DesignRulesTest::relativeTime()
{
    QFETCH(QDateTime, date);
    QFETCH(QDateTime, now);
    QFETCH(QString, text);
    QCOMPARE(relativeTimeText(date, now, QTimeZone("Europe/Berlin")), text);
}

void DesignRulesTest::badges_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<QString>("sourceHelp");
    QTest::addColumn<bool>("greenLanguageFill");
    QTest::newRow("lrclib") << "lrclib" << "LRCLib" << "LRCLib — https://lrclib.net" << false;
    QTest::newRow("netease") << "netease" << "网易云音乐" << "网易云音乐 — https://music.163.com" << false;
    QTest::newRow("cache") << "cache" << "缓存" << "缓存" << false;
    QTest::newRow("manualImport") << "manualImport" << "本地导入" << "本地导入" << false;
    QTest::newRow("en") << "en" << "en" << "en" << true;
    QTest::newRow("EN") << "EN" << "EN" << "EN" << false;
    QTest::newRow("en-US") << "en-US" << "en-US" << "en-US" << false;
}

void DesignRulesTest::badges()
{
    QFETCH(QString, value);
    QFETCH(QString, sourceName);
    QFETCH(QString, sourceHelp);
    QFETCH(bool, greenLanguageFill);
    QCOMPARE(Badges::sourceName(value), sourceName);
    QCOMPARE(Badges::sourceHelp(value), sourceHelp);
    const QColor fill = Badges::languageFill(value);
    QCOMPARE(fill == Theme::withAlpha(Theme::systemGreen(), 0.18), greenLanguageFill);
    QCOMPARE(fill == Theme::white(0.12), !greenLanguageFill);
}

void DesignRulesTest::capsuleHitShape_data()
{
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<bool>("inside");
    const QSizeF wide(100, 30);
    QTest::newRow("centre") << wide << QPointF(50, 15) << true;
    QTest::newRow("top edge between the ends") << wide << QPointF(50, 0) << true;
    QTest::newRow("top-left corner") << wide << QPointF(1, 1) << false;
    QTest::newRow("bottom-right corner") << wide << QPointF(99, 29) << false;
    QTest::newRow("left end's tip") << wide << QPointF(0, 15) << true;
    QTest::newRow("on the end's arc") << wide << QPointF(15 - 15 * std::cos(0.7), 15 - 15 * std::sin(0.7) + 0.01) << true;
    QTest::newRow("just outside the arc") << wide << QPointF(15 - 15 * std::cos(0.7) - 0.3, 15 - 15 * std::sin(0.7)) << false;
    QTest::newRow("outside the rectangle") << wide << QPointF(101, 15) << false;
    QTest::newRow("tall capsule") << QSizeF(20, 80) << QPointF(10, 1) << true;
    QTest::newRow("tall capsule's corner") << QSizeF(20, 80) << QPointF(1, 79) << false;
    QTest::newRow("no size") << QSizeF(0, 0) << QPointF(0, 0) << false;
}

void DesignRulesTest::capsuleHitShape()
{
    QFETCH(QSizeF, size);
    QFETCH(QPointF, point);
    QFETCH(bool, inside);
    QCOMPARE(capsuleContains(size, point), inside);
}

void DesignRulesTest::pressLook_data()
{
    QTest::addColumn<int>("look");
    QTest::addColumn<bool>("down");
    QTest::addColumn<bool>("reduceMotion");
    QTest::addColumn<double>("opacity");
    QTest::addColumn<double>("scale");
    QTest::newRow("primary pressed") << int(CT::Primary) << true << false << 0.85 << 0.97;
    QTest::newRow("primary pressed, reduce motion") << int(CT::Primary) << true << true << 0.85 << 1.0;
    QTest::newRow("secondary pressed") << int(CT::Secondary) << true << false << 0.75 << 0.97;
    QTest::newRow("secondary pressed, reduce motion") << int(CT::Secondary) << true << true << 0.75 << 1.0;
    QTest::newRow("released") << int(CT::Secondary) << false << false << 1.0 << 1.0;
}

void DesignRulesTest::pressLook()
{
    QFETCH(int, look);
    QFETCH(bool, down);
    QFETCH(bool, reduceMotion);
    QFETCH(double, opacity);
    QFETCH(double, scale);
    QCOMPARE(CT::pressedOpacity(CT::Look(look), down), opacity);
    QCOMPARE(CT::pressedScale(down, reduceMotion), scale);
}

void DesignRulesTest::iconsAreTintedMasks()
{
    const QImage heart = Icon::render(QStringLiteral("heart.fill"), QSize(24, 24), Theme::neonPink());
    QVERIFY(!heart.isNull());
    QCOMPARE(heart.pixelColor(12, 12), Theme::neonPink()); // inside the shape: the tint, opaque
    QCOMPARE(heart.pixelColor(0, 0).alpha(), 0);           // outside: nothing
    QVERIFY(Icon::render(QStringLiteral("no.such.symbol"), QSize(24, 24), Qt::white).isNull());
}

void DesignRulesTest::makeParticles_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("made");
    QTest::newRow("negative") << -3 << 0;
    QTest::newRow("none") << 0 << 0;
    QTest::newRow("the panel's") << 46 << 46;
    QTest::newRow("many") << 3000 << 3000;
}

void DesignRulesTest::makeParticles()
{
    QFETCH(int, count);
    QFETCH(int, made);
    QRandomGenerator random(7);
    const double now = 1000;
    const auto particles = ParticleCanvas::makeParticles(count, now, random);
    QCOMPARE(int(particles.size()), made);
    int cyan = 0, violet = 0, pink = 0;
    for (const Particle &p : particles) {
        QVERIFY(p.xFraction >= 0 && p.xFraction < 1);
        QVERIFY(p.radius >= 2 && p.radius < 6);
        QVERIFY(p.peakOpacity >= 0.25 && p.peakOpacity < 0.85);
        QVERIFY(p.cycleDuration >= 10 && p.cycleDuration < 26);
        QVERIFY(p.birthTime <= now && p.birthTime > now - p.cycleDuration);
        cyan += p.hue == Theme::neonCyan();
        violet += p.hue == Theme::neonViolet();
        pink += p.hue == Theme::neonPink();
    }
    QCOMPARE(cyan + violet + pink, made);
    if (made >= 3000) { // 30 % / 40 % / 30 %
        QVERIFY(std::abs(cyan / double(made) - 0.3) < 0.04);
        QVERIFY(std::abs(violet / double(made) - 0.4) < 0.04);
    }
}

void DesignRulesTest::drawnParticleIsAlphaSquared_data()
{
    QTest::addColumn<double>("phase");
    QTest::addColumn<double>("alpha");  // 0: not drawn
    QTest::addColumn<double>("centreY"); // in canvas heights from the top
    QTest::newRow("cycle start: skipped") << 0.0 << 0.0 << 1.0;
    QTest::newRow("end of the fade-in: peak") << 0.2 << 0.8 << 1.0 - 0.42;
    QTest::newRow("fading out") << 0.25 << 0.75 << 1.0 - 0.525;
    QTest::newRow("above the top by 0.5") << 0.5 << 0.0 << -0.05;
}

void DesignRulesTest::drawnParticleIsAlphaSquared()
{
    QFETCH(double, phase);
    QFETCH(double, alpha);
    QFETCH(double, centreY);
    const QSize size(200, 400);
    Particle p;
    p.xFraction = 0.5;
    p.radius = 5;
    p.hue = Theme::neonCyan();
    p.peakOpacity = 0.8;
    p.cycleDuration = 20;
    p.birthTime = 100;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        ParticleCanvas::drawParticles(painter, size, p.birthTime + phase * p.cycleDuration, {p});
    }
    const int y = qBound(0, qRound(centreY * size.height()), size.height() - 1);
    const QColor centre = image.pixelColor(100, y);
    QVERIFY2(std::abs(centre.alphaF() - alpha * alpha) < 0.01, qPrintable(QString::number(centre.alphaF())));
    if (alpha > 0) {
        QCOMPARE(centre.red(), Theme::neonCyan().red());
        QVERIFY(std::abs(centre.green() - Theme::neonCyan().green()) <= 2);
    } else {
        for (int row = 0; row < size.height(); row += 3)
            QCOMPARE(image.pixelColor(100, row).alpha(), 0);
    }
}

using Phase = AnimationActivityView::ScenePhase;
using Control = AnimationActivityView::ControlActiveState;

void DesignRulesTest::gateRule_data()
{
    QTest::addColumn<bool>("playing");
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<Control>("control");
    QTest::addColumn<bool>("reduceMotion");
    QTest::addColumn<bool>("active");
    QTest::newRow("playing in the key window") << true << Phase::active << Control::key << false << true;
    QTest::newRow("another of ours is key") << true << Phase::active << Control::active << false << true;
    QTest::newRow("another application in front") << true << Phase::active << Control::inactive << false << false;
    QTest::newRow("scene inactive") << true << Phase::inactive << Control::key << false << false;
    QTest::newRow("scene in background") << true << Phase::background << Control::key << false << false;
    QTest::newRow("reduce motion") << true << Phase::active << Control::key << true << false;
    QTest::newRow("not playing") << false << Phase::active << Control::key << false << false;
}

void DesignRulesTest::gateRule()
{
    QFETCH(bool, playing);
    QFETCH(Phase, phase);
    QFETCH(Control, control);
    QFETCH(bool, reduceMotion);
    QFETCH(bool, active);
    const bool windowActive = AnimationActivityView::isWindowActive(phase, control);
    QCOMPARE(AnimationActivityView::isAnimationActive(playing, windowActive, reduceMotion), active);
}

void DesignRulesTest::windowMapping_data()
{
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QWindow::Visibility>("visibility");
    QTest::addColumn<Qt::ApplicationState>("application");
    QTest::addColumn<bool>("windowIsActive");
    QTest::addColumn<bool>("otherOfOursActive");
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<Control>("control");
    QTest::newRow("shown, focused") << true << QWindow::Windowed << Qt::ApplicationActive << true << false
                                    << Phase::active << Control::key;
    QTest::newRow("full screen, settings window focused") << true << QWindow::FullScreen << Qt::ApplicationActive << false
                                                          << true << Phase::active << Control::active;
    QTest::newRow("another application in front") << true << QWindow::Windowed << Qt::ApplicationInactive << false
                                                   << false << Phase::inactive << Control::inactive;
    QTest::newRow("minimised") << true << QWindow::Minimized << Qt::ApplicationActive << false << false
                               << Phase::background << Control::inactive;
    QTest::newRow("hidden") << false << QWindow::Hidden << Qt::ApplicationActive << false << false
                            << Phase::background << Control::inactive;
    QTest::newRow("application hidden") << true << QWindow::Windowed << Qt::ApplicationHidden << false << false
                                        << Phase::inactive << Control::inactive;
}

void DesignRulesTest::windowMapping()
{
    QFETCH(bool, visible);
    QFETCH(QWindow::Visibility, visibility);
    QFETCH(Qt::ApplicationState, application);
    QFETCH(bool, windowIsActive);
    QFETCH(bool, otherOfOursActive);
    QFETCH(Phase, phase);
    QFETCH(Control, control);
    QCOMPARE(AnimationActivityView::scenePhaseFor(visible, visibility, application), phase);
    QCOMPARE(AnimationActivityView::controlStateFor(windowIsActive, otherOfOursActive), control);
}

// The field over its backdrop, at points of a 360 × 950 view: each glow's own colour dominates
// at its centre, the field fades to the backdrop across the edges, and every colour is opaque.
void DesignRulesTest::fieldColours_data()
{
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<QString>("expected"); // pink, cyan, violet or backdrop
    QTest::newRow("glow 1 centre") << QPointF(108, 285) << QStringLiteral("pink");
    QTest::newRow("glow 2 centre") << QPointF(270, 570) << QStringLiteral("cyan");
    QTest::newRow("far beyond the top edge") << QPointF(180, -200) << QStringLiteral("backdrop");
    QTest::newRow("far beyond the left edge") << QPointF(-200, 500) << QStringLiteral("backdrop");
}

void DesignRulesTest::fieldColours()
{
    QFETCH(QPointF, point);
    QFETCH(QString, expected);
    const QColor pink(255, 45, 200), cyan(0, 230, 255), violet(150, 80, 255), blue(60, 110, 255), ink(6, 3, 15);
    const QColor c = MeshGradient::fieldColorAt(point, QSizeF(360, 950), {pink, cyan, violet, blue}, ink);
    QCOMPARE(c.alpha(), 255);
    const auto near = [&c](const QColor &to, int tolerance) {
        return std::abs(c.red() - to.red()) <= tolerance && std::abs(c.green() - to.green()) <= tolerance
               && std::abs(c.blue() - to.blue()) <= tolerance;
    };
    if (expected == u"backdrop")
        QVERIFY2(near(ink, 1), qPrintable(c.name()));
    else if (expected == u"pink")
        QVERIFY2(c.red() > 150 && c.blue() > 120 && c.green() < 110, qPrintable(c.name()));
    else
        QVERIFY2(c.green() > 120 && c.blue() > 150 && c.red() < 110, qPrintable(c.name()));
}

QTEST_MAIN(DesignRulesTest)
#include "tst_designrules.moc"
