#include "AuthFixture.h"

#include "account/AuthViewModel.h"
#include "account/SettingsController.h"

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QtTest>


using namespace std::chrono_literals;

namespace {

const QString kAddress = QStringLiteral("ada@example.com");
const QString kPassword = QStringLiteral("secret-1");

// Hosts one screen of the module in a window of the main window's sizes.
const QByteArray kHost = R"(
import QtQuick
import Cantorella.Account
Window {
    id: host
    required property QtObject authService
    required property string page
    property string notice: ""
    property alias loader: loader
    color: "black"
    Loader {
        id: loader
        anchors.fill: parent
        sourceComponent: page === "signIn" ? signInPage : settingsPage
    }
    Component { id: signInPage; SignInView { auth: authService; notice: host.notice } }
    Component { id: settingsPage; SettingsView { auth: authService } }
}
)";

// Screenshots are written only when CANTORELLA_SCREENSHOT_DIR names a folder (run under xvfb-run
// with QT_QPA_PLATFORM=xcb: the offscreen platform draws no shader effects).
QString screenshotDir()
{
    return qEnvironmentVariable("CANTORELLA_SCREENSHOT_DIR");
}

} // namespace

class TestAccountViews : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<AuthFixture> fx;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickWindow> window;

    QQuickItem *screenItem() const
    {
        return window->property("loader").value<QQuickItem *>()->property("item").value<QQuickItem *>();
    }

    template<class T = QQuickItem>
    T *child(const QString &name) const
    {
        T *found = screenItem()->findChild<T *>(name);
        if (!found)
            qFatal("no item named %s", qPrintable(name));
        return found;
    }

    AuthViewModel *signInModel() const { return screenItem()->property("viewModel").value<AuthViewModel *>(); }
    SettingsController *settingsController() const
    {
        return screenItem()->property("controller").value<SettingsController *>();
    }

    bool shows(const QString &name) const { return child(name)->isVisible(); }
    QString textOf(const QString &name) const { return child(name)->property("text").toString(); }

    // Shows one screen; false (with the errors printed) when it cannot be built.
    [[nodiscard]] bool show(const QString &screen, QSize size = QSize(800, 950), const QString &notice = QString())
    {
        QQmlComponent component(engine.get());
        component.setData(kHost, QUrl(QStringLiteral("qrc:/tst_accountviews/Host.qml")));
        QObject *created = component.isReady()
            ? component.createWithInitialProperties(
                  {{QStringLiteral("authService"), QVariant::fromValue<QObject *>(fx->auth.get())},
                   {QStringLiteral("page"), screen},
                   {QStringLiteral("notice"), notice}})
            : nullptr;
        if (!created) {
            qCritical().noquote() << component.errorString();
            return false;
        }
        window.reset(qobject_cast<QQuickWindow *>(created));
        window->resize(size);
        window->show();
        window->requestActivate();
        return QTest::qWaitForWindowExposed(window.get()) && screenItem();
    }

    void click(QQuickItem *item)
    {
        QVERIFY(item->isVisible());
        const QPoint centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, centre);
    }

    void typeInto(const QString &fieldName, const QString &text)
    {
        QQuickItem *field = child(fieldName);
        click(field);
        QTRY_VERIFY(field->hasActiveFocus());
        for (const QChar c : text)
            QTest::keyClick(window.get(), c.toLatin1());
    }

    // Writes the window as it is now, when screenshots were asked for.
    void screenshot(const QString &name)
    {
        if (screenshotDir().isEmpty())
            return;
        QTest::qWait(500); // let a running fade finish
        QVERIFY(QDir().mkpath(screenshotDir()));
        const QString file = QStringLiteral("%1/%2-%3x%4.png")
                                 .arg(screenshotDir(), name)
                                 .arg(window->width())
                                 .arg(window->height());
        QVERIFY(window->grabWindow().save(file));
    }

private slots:
    void initTestCase()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        QGuiApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC")));
    }

    void init()
    {
        // Any QML warning fails the test, except the known noise of graphical effects without OpenGL.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!.*failed to acquire GL context).*")));
        fx = std::make_unique<AuthFixture>();
        engine = std::make_unique<QQmlEngine>();
        engine->addImportPath(QStringLiteral("qrc:/")); // the modules' qmldir files are at qrc:/<URI path>/
    }

    void cleanup()
    {
        window.reset();
        engine.reset();
        fx.reset();
    }

    void signInForm_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("800x950") << QSize(800, 950);
        QTest::newRow("680x800") << QSize(680, 800);
    }

    // The form in both modes, the error banner, typed input and Return that sends nothing.
    void signInForm()
    {
        QFETCH(QSize, size);
        fx->start();
        QVERIFY(show(QStringLiteral("signIn"), size));
        AuthViewModel *vm = signInModel();
        QVERIFY(vm);

        QCOMPARE(textOf("signIn.heading"), QStringLiteral("登录你的账户"));
        QCOMPARE(textOf("signIn.submit"), QStringLiteral("登录"));
        QCOMPARE(textOf("signIn.modeSwitch"), QStringLiteral("还没有账户？去注册"));
        QVERIFY(shows("signIn.form"));
        QVERIFY(!shows("signIn.confirmation"));
        QVERIFY(!shows("signIn.errorBanner"));
        QVERIFY(!shows("signIn.infoBanner"));
        QVERIFY(!shows("signIn.busy"));
        screenshot(QStringLiteral("signin-login"));

        typeInto("signIn.email", QStringLiteral(" ada@example"));
        typeInto("signIn.password", QStringLiteral("secret-1"));
        QCOMPARE(vm->email(), QStringLiteral(" ada@example"));
        QCOMPARE(vm->password(), QStringLiteral("secret-1"));
        QTest::keyClick(window.get(), Qt::Key_Return);
        QTest::keyClick(window.get(), Qt::Key_Enter);
        QVERIFY(!vm->hasErrorMessage()); // Return sends nothing

        click(child("signIn.submit"));
        QTRY_VERIFY(shows("signIn.errorBanner"));
        QCOMPARE(textOf("signIn.errorBanner"), QStringLiteral("请输入有效的邮箱地址。"));
        screenshot(QStringLiteral("signin-error"));

        click(child("signIn.modeSwitch"));
        QCOMPARE(textOf("signIn.heading"), QStringLiteral("创建新账户"));
        QCOMPARE(textOf("signIn.submit"), QStringLiteral("注册"));
        QCOMPARE(textOf("signIn.modeSwitch"), QStringLiteral("已有账户？去登录"));
        QVERIFY(!shows("signIn.errorBanner"));
        screenshot(QStringLiteral("signin-register"));
    }

    // The shell's notice why the last session ended opens in the error banner and goes like
    // any error.
    void noticeOpensInTheErrorBanner()
    {
        fx->start();
        const QString notice = QStringLiteral("已退出登录。");
        QVERIFY(show(QStringLiteral("signIn"), QSize(800, 950), notice));
        QVERIFY(shows("signIn.errorBanner"));
        QCOMPARE(textOf("signIn.errorBanner"), notice);
        click(child("signIn.modeSwitch"));
        QVERIFY(!shows("signIn.errorBanner"));
    }

    void busySubmitShowsTheSpinner()
    {
        fx->start();
        fx->server.enqueueReply("/auth/v1/token", HttpFake::Reply::empty(500).withDelay(300ms));
        QVERIFY(show(QStringLiteral("signIn")));
        AuthViewModel *vm = signInModel();
        vm->setEmail(kAddress);
        vm->setPassword(kPassword);
        QQuickItem *submit = child("signIn.submit");
        click(submit);
        QVERIFY(vm->isBusy());
        QVERIFY(shows("signIn.busy"));
        QVERIFY(!submit->isEnabled());
        QCOMPARE(submit->opacity(), 0.6);
        click(submit); // ignored
        QTRY_VERIFY(!vm->isBusy());
        QVERIFY(!shows("signIn.busy"));
        QCOMPARE(submit->opacity(), 1.0);
        QCOMPARE(fx->server.count("/auth/v1/token"), 1);
    }

    void confirmationPanel_data()
    {
        signInForm_data();
    }

    void confirmationPanel()
    {
        QFETCH(QSize, size);
        fx->start();
        QVERIFY(show(QStringLiteral("signIn"), size));
        AuthViewModel *vm = signInModel();
        click(child("signIn.modeSwitch"));
        vm->setEmail(kAddress);
        vm->setPassword(kPassword);
        click(child("signIn.submit"));
        QTRY_VERIFY(shows("signIn.confirmation"));
        QVERIFY(!shows("signIn.form"));
        QCOMPARE(textOf("signIn.confirmationText"),
                 QStringLiteral("我们已向 ada@example.com 发送确认邮件。\n请点击邮件中的链接完成验证后再登录。"));

        click(child("signIn.resend"));
        QTRY_VERIFY(shows("signIn.confirmationInfoBanner"));
        QCOMPARE(textOf("signIn.confirmationInfoBanner"), QStringLiteral("确认邮件已重新发送。"));
        screenshot(QStringLiteral("signin-confirmation"));

        click(child("signIn.backToSignIn"));
        QVERIFY(shows("signIn.form"));
        QCOMPARE(textOf("signIn.heading"), QStringLiteral("登录你的账户"));
    }

    void settings_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QSize>("size");
        QTest::newRow("signed in, 800x950") << true << QSize(800, 950);
        QTest::newRow("signed out, 800x950") << false << QSize(800, 950);
        QTest::newRow("signed in, 680x800") << true << QSize(680, 800);
        QTest::newRow("signed out, 680x800") << false << QSize(680, 800);
        QTest::newRow("signed in, window minimum 420x300") << true << QSize(420, 300);
    }

    void settings()
    {
        QFETCH(bool, signedIn);
        QFETCH(QSize, size);
        if (signedIn)
            fx->store(fx->issuedSession(kAddress));
        fx->start();
        QVERIFY(show(QStringLiteral("settings"), size));

        QCOMPARE(textOf("settings.email"), signedIn ? kAddress : QStringLiteral("未登录"));
        QCOMPARE(child("settings.signOut")->isEnabled(), signedIn);
        QCOMPARE(textOf("settings.endpoint"), settingsController()->endpoint());
        screenshot(signedIn ? QStringLiteral("settings-signed-in") : QStringLiteral("settings-signed-out"));

        if (!signedIn)
            return;
        click(child("settings.signOut"));
        QVERIFY(!fx->auth->isSignedIn());
        QCOMPARE(textOf("settings.email"), QStringLiteral("未登录"));
        QVERIFY(!child("settings.signOut")->isEnabled());
        QTRY_COMPARE(fx->server.count("/auth/v1/logout"), 1);
    }
};

QTEST_MAIN(TestAccountViews)
#include "tst_accountviews.moc"
