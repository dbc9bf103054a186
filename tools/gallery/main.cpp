// The design system's gallery: every piece at the main window's size, for screenshots under
// xvfb-run and for measuring what the ambient animations cost.

#include "platform/Clock.h"
#include "ui/design/FrameClock.h"
#include "ui/design/MotionPreferences.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTextStream>
#include <QTimer>

#include <time.h>

namespace {

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts); // every thread: GUI, render, llvmpipe
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("cantorella-gallery"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QGuiApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Every piece of the design system in one window."));
    parser.addHelpOption();
    QCommandLineOption elapsedOption(QStringLiteral("elapsed"), QStringLiteral("Lyric position in seconds."),
                                     QStringLiteral("SECONDS"), QStringLiteral("0"));
    QCommandLineOption playingOption(QStringLiteral("playing"), QStringLiteral("Run the ambient animations."));
    QCommandLineOption reduceOption(QStringLiteral("reduce-motion"), QStringLiteral("Turn Reduce Motion on."));
    QCommandLineOption screenshotOption(QStringLiteral("screenshot"), QStringLiteral("Save the window as FILE and quit."),
                                        QStringLiteral("FILE"));
    QCommandLineOption cpuOption(QStringLiteral("cpu-report"),
                                 QStringLiteral("Print the process CPU share over SECONDS and quit."),
                                 QStringLiteral("SECONDS"));
    parser.addOptions({elapsedOption, playingOption, reduceOption, screenshotOption, cpuOption});
    parser.process(app);

    if (parser.isSet(reduceOption))
        qputenv("CANTORELLA_REDUCE_MOTION", "1");

    FrameClock frameClock(ContinuousClock::system());
    MotionPreferences motionPreferences;

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.setInitialProperties({
        {QStringLiteral("frameClock"), QVariant::fromValue(&frameClock)},
        {QStringLiteral("motionPreferences"), QVariant::fromValue(&motionPreferences)},
        {QStringLiteral("playing"), parser.isSet(playingOption)},
        {QStringLiteral("elapsed"), parser.value(elapsedOption).toDouble()},
    });
    engine.load(QUrl(QStringLiteral("qrc:/gallery/Gallery.qml")));
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!window)
        return 1;
    // No window manager under Xvfb: activate by hand, or the gate sees an inactive window.
    window->show();
    window->requestActivate();

    int frames = 0;
    QObject::connect(window, &QQuickWindow::frameSwapped, [&frames] { ++frames; });

    if (parser.isSet(cpuOption)) {
        const double seconds = parser.value(cpuOption).toDouble();
        // Let start-up (shader and font loading) settle before measuring.
        QTimer::singleShot(1500, &app, [&, seconds] {
            const int framesBefore = frames;
            const double cpuBefore = processCpuSeconds();
            auto *wall = new QElapsedTimer;
            wall->start();
            QTimer::singleShot(int(seconds * 1000), &app, [&, wall, framesBefore, cpuBefore] {
                const double wallSeconds = double(wall->nsecsElapsed()) / 1e9;
                const double share = (processCpuSeconds() - cpuBefore) / wallSeconds * 100.0;
                QTextStream(stdout) << QStringLiteral("cpu: %1 % of one core over %2 s; %3 frames; animating: %4\n")
                                           .arg(share, 0, 'f', 2)
                                           .arg(wallSeconds, 0, 'f', 2)
                                           .arg(frames - framesBefore)
                                           .arg(frameClock.isRunning() ? QStringLiteral("yes") : QStringLiteral("no"));
                delete wall;
                QGuiApplication::quit();
            });
        });
    } else if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        QTimer::singleShot(1200, &app, [window, file] {
            const QImage image = window->grabWindow();
            const bool saved = image.save(file);
            QTextStream(saved ? stdout : stderr)
                << (saved ? QStringLiteral("saved %1\n") : QStringLiteral("could not save %1\n")).arg(file);
            QGuiApplication::exit(saved ? 0 : 1);
        });
    }
    return QGuiApplication::exec();
}
