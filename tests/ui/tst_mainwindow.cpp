// The main window offscreen, on fakes: every root view loads without a single QML warning, a
// stored session never shows the sign-in view while it is being read, Ctrl+, opens the settings
// window in every state, and signing out and in again swaps the views.

#include "ShellFixture.h"

#include "app/ApplicationShell.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QSignalSpy>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTest>

namespace {

// Known noise of the offscreen platform; anything else a test prints as a warning fails it.
const QRegularExpression anyUnexpectedWarning(
    QStringLiteral("^(?!.*(failed to acquire GL context to resolve capabilities"
                   "|This plugin does not support raise\\(\\))).*$"),
    QRegularExpression::DotMatchesEverythingOption);

QString shownView(ApplicationShell &shell)
{
    QQuickWindow *window = shell.mainWindow();
    auto *loader = window ? window->findChild<QQuickItem *>(QStringLiteral("rootView")) : nullptr;
    QQuickItem *item = loader ? loader->property("item").value<QQuickItem *>() : nullptr;
    return item ? item->objectName() : QString();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(anyUnexpectedWarning); }

    void withoutSessionShowsSignIn()
    {
        ShellFixture fx;
        fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QVERIFY(shell.mainWindow());
        QCOMPARE(shell.mainWindow()->width(), 800);
        QCOMPARE(shell.mainWindow()->height(), 950);
        QCOMPARE(shell.mainWindow()->minimumSize(), QSize(680, 800));
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));
    }

    void storedSessionNeverShowsSignInWhileItLoads()
    {
        ShellFixture fx;
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        fx.secrets->setDelay(std::chrono::milliseconds(400));
        fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = shell.mainWindow();
        QVERIFY(window);
        QStringList framesShowing;
        connect(window, &QQuickWindow::frameSwapped, this, [&] { framesShowing << shownView(shell); });
        QVERIFY(QTest::qWaitForWindowExposed(window));

        QTRY_COMPARE(shownView(shell), QStringLiteral("playerView"));
        QTRY_VERIFY(framesShowing.contains(QStringLiteral("playerView")));
        QVERIFY2(framesShowing.contains(QStringLiteral("loadingView")), qPrintable(framesShowing.join(u',')));
        QVERIFY2(!framesShowing.contains(QStringLiteral("signInView")), qPrintable(framesShowing.join(u',')));
    }

    void settingsOpenFromEveryState()
    {
        ShellFixture fx;
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        fx.secrets->setDelay(std::chrono::milliseconds(300));
        AuthService &auth = fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = shell.mainWindow();
        QQuickWindow *settings = shell.settingsWindow();
        QVERIFY(window && settings);
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(!settings->isVisible());

        const auto openSettings = [&] {
            settings->close();
            QTRY_VERIFY(!settings->isVisible());
            window->requestActivate();
            QTRY_VERIFY(window->isActive());
            QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
            QTRY_VERIFY(settings->isVisible());
        };

        QCOMPARE(shownView(shell), QStringLiteral("loadingView"));
        openSettings();
        QTRY_COMPARE(shownView(shell), QStringLiteral("playerView"));
        openSettings();
        // Pressed again while open: stays open.
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        QVERIFY(settings->isVisible());
        TaskRunner::run(auth.signOut());
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));
        openSettings();
        QVERIFY(settings->minimumWidth() >= 420 && settings->minimumHeight() >= 300);

        // Closing the main window ends the application even with the settings window open.
        QSignalSpy quit(shell.engine(), &QQmlEngine::quit);
        window->close();
        QCOMPARE(quit.count(), 1);
    }

    void signOutAndInAgain()
    {
        ShellFixture fx;
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        AuthService &auth = fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QTRY_COMPARE(shownView(shell), QStringLiteral("playerView"));
        QTRY_COMPARE(fx.sources->started, 1); // the player's appearance started the coordinator

        TaskRunner::run(auth.signOut());
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));
        QCOMPARE(fx.sources->stopped, 1);

        TaskRunner::run(auth.signIn(QStringLiteral("a@example.com"), QStringLiteral("secret-1")));
        QTRY_COMPARE(shownView(shell), QStringLiteral("playerView"));
        QTRY_COMPARE(fx.sources->started, 2);
        QTRY_COMPARE(fx.sources->destroyed, 1);
    }
};

int main(int argc, char *argv[])
{
    ApplicationShell::prepareProcess();
    QApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
