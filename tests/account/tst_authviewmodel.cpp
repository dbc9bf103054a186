#include "AuthFixture.h"
#include "CountingHttpSession.h"

#include "account/AuthViewModel.h"

#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;
using Mode = AuthViewModel::Mode;

namespace {

const QString kAddress = QStringLiteral("ada@example.com");
const QString kPassword = QStringLiteral("secret-1");
const QString kConfirmation = QStringLiteral("我们已向 ada@example.com 发送确认邮件。\n请点击邮件中的链接完成验证后再登录。");

enum class Account { none, confirmed, unconfirmed };

} // namespace

Q_DECLARE_METATYPE(Account)
Q_DECLARE_METATYPE(HttpFake::Reply)
Q_DECLARE_METATYPE(AuthViewModel::Mode)

class TestAuthViewModel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<AuthFixture> fx;
    std::shared_ptr<CountingHttpSession> http;
    std::unique_ptr<AuthViewModel> vm;

    // Submits and waits until the request (if one was sent) has been answered and applied.
    void submitAndWait()
    {
        vm->submit();
        QTRY_VERIFY_WITH_TIMEOUT(!vm->isBusy(), 10000);
    }

    void dropConnections(const QString &path) { fx->server.enqueueReply(path, Reply::closeWithoutAnswer()); }

    void typeCredentials(const QString &email, const QString &password)
    {
        vm->setEmail(email);
        vm->setPassword(password);
    }

    // Reaches the confirmation panel through a registration that awaits the confirmation.
    void registerAwaitingConfirmation()
    {
        vm->switchMode();
        typeCredentials(kAddress, kPassword);
        submitAndWait();
        QCOMPARE(vm->awaitingConfirmation(), std::optional<QString>(kAddress));
    }

private slots:
    void init()
    {
        fx = std::make_unique<AuthFixture>();
        http = std::make_shared<CountingHttpSession>();
        fx->http = http;
        fx->start();
        vm = std::make_unique<AuthViewModel>();
        vm->setAuth(fx->auth.get());
    }

    void cleanup()
    {
        vm.reset();
        fx.reset();
    }

    void startsEmptyInSignInMode()
    {
        QCOMPARE(vm->mode(), Mode::Login);
        QCOMPARE(vm->email(), QString());
        QCOMPARE(vm->errorMessage(), std::nullopt);
        QCOMPARE(vm->infoMessage(), std::nullopt);
        QCOMPARE(vm->awaitingConfirmation(), std::nullopt);
        QCOMPARE(vm->heading(), QStringLiteral("登录你的账户"));
        QCOMPARE(vm->submitTitle(), QStringLiteral("登录"));
        QCOMPARE(vm->modeSwitchTitle(), QStringLiteral("还没有账户？去注册"));
    }

    // Each way a submit can end: the screen it leaves and the exact banner text.
    void submit_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<Account>("account");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("scriptedStatus"); // 0: the stand-in answers; -1: the connection drops
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("awaiting");   // empty: the form stays
        QTest::addColumn<QString>("error");      // empty: no error banner
        QTest::addColumn<Mode>("modeAfter");

        const Mode in = Mode::Login;
        const Mode up = Mode::Register;
        QTest::newRow("sign-in succeeds") << in << Account::confirmed << kAddress << kPassword << 0 << true
                                          << QString() << QString() << in;
        QTest::newRow("sign-in, address not confirmed: panel, no error")
            << in << Account::unconfirmed << kAddress << kPassword << 0 << false << kAddress << QString() << in;
        QTest::newRow("sign-in, wrong password") << in << Account::confirmed << kAddress << "wrong-pw" << 0 << false
                                                 << QString() << QStringLiteral("邮箱或密码错误。") << in;
        QTest::newRow("sign-in, malformed address") << in << Account::none << "ada@example" << kPassword << 0 << false
                                                    << QString() << QStringLiteral("请输入有效的邮箱地址。") << in;
        QTest::newRow("sign-in, five-character password") << in << Account::none << kAddress << "12345" << 0 << false
                                                          << QString() << QStringLiteral("密码至少需要 6 位。") << in;
        QTest::newRow("sign-in, server 500") << in << Account::confirmed << kAddress << kPassword << 500 << false
                                             << QString() << QStringLiteral("服务器暂时不可用（500）。") << in;
        QTest::newRow("sign-in, connection lost") << in << Account::confirmed << kAddress << kPassword << -1 << false
                                                  << QString() << QStringLiteral("网络连接失败，请稍后再试。") << in;
        QTest::newRow("registration awaits confirmation: panel")
            << up << Account::none << kAddress << kPassword << 0 << false << kAddress << QString() << up;
        QTest::newRow("registration of a known address: sign-in mode with the error")
            << up << Account::confirmed << kAddress << kPassword << 0 << false << QString()
            << QStringLiteral("该邮箱已注册，请直接登录。") << in;
        QTest::newRow("registration, server 503") << up << Account::none << kAddress << kPassword << 503 << false
                                                  << QString() << QStringLiteral("服务器暂时不可用（503）。") << up;
        QTest::newRow("registration, connection lost") << up << Account::none << kAddress << kPassword << -1 << false
                                                       << QString() << QStringLiteral("网络连接失败，请稍后再试。") << up;
        QTest::newRow("registration, five-character password") << up << Account::none << kAddress << "12345" << 0
                                                               << false << QString()
                                                               << QStringLiteral("密码至少需要 6 位。") << up;
    }

    void submit()
    {
        QFETCH(Mode, mode);
        QFETCH(Account, account);
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(int, scriptedStatus);
        QFETCH(bool, signedIn);
        QFETCH(QString, awaiting);
        QFETCH(QString, error);
        QFETCH(Mode, modeAfter);

        if (account != Account::none)
            fx->server.auth().addUser(kAddress, kPassword, account == Account::confirmed);
        const QString path = mode == Mode::Login ? QStringLiteral("/auth/v1/token") : QStringLiteral("/auth/v1/signup");
        if (scriptedStatus > 0)
            fx->server.enqueueReply(path, Reply::empty(scriptedStatus));
        else if (scriptedStatus < 0)
            dropConnections(path);
        if (mode != vm->mode())
            vm->switchMode();
        typeCredentials(email, password);

        submitAndWait();

        QCOMPARE(fx->auth->isSignedIn(), signedIn);
        QCOMPARE(vm->awaitingConfirmation(), awaiting.isEmpty() ? std::nullopt : std::optional<QString>(awaiting));
        QCOMPARE(vm->errorMessage(), error.isEmpty() ? std::nullopt : std::optional<QString>(error));
        QCOMPARE(vm->infoMessage(), std::nullopt);
        QCOMPARE(vm->mode(), modeAfter);
        if (!awaiting.isEmpty())
            QCOMPARE(vm->confirmationText(), kConfirmation);
        // The typed texts survive every outcome.
        QCOMPARE(vm->email(), email);
        QCOMPARE(vm->password(), password);
    }

    void addressIsSentTrimmedAndTheFieldKeepsItsSpaces()
    {
        fx->server.auth().addUser(kAddress, kPassword);
        const QString typed = QStringLiteral("  ada@example.com \n");
        typeCredentials(typed, kPassword);
        submitAndWait();
        QVERIFY(fx->auth->isSignedIn());
        QCOMPARE(fx->server.lastRequest("/auth/v1/token").jsonObject().value("email").toString(), kAddress);
        QCOMPARE(vm->email(), typed);
    }

    void passwordIsSentAsTyped()
    {
        const QString padded = QStringLiteral(" pass word ");
        fx->server.auth().addUser(kAddress, padded);
        typeCredentials(kAddress, padded);
        submitAndWait();
        QVERIFY(fx->auth->isSignedIn());
        QCOMPARE(fx->server.lastRequest("/auth/v1/token").jsonObject().value("password").toString(), padded);
    }

    void registrationWithASessionLeavesTheForm()
    {
        fx->server.auth().setAutoConfirm(true);
        vm->switchMode();
        typeCredentials(kAddress, kPassword);
        submitAndWait();
        QVERIFY(fx->auth->isSignedIn());
        QCOMPARE(vm->awaitingConfirmation(), std::nullopt);
        QCOMPARE(vm->mode(), Mode::Register);
    }

    void submitClearsBothBannersFirst()
    {
        registerAwaitingConfirmation();
        vm->resend();
        QTRY_VERIFY(vm->hasInfoMessage());
        vm->backToSignIn();
        typeCredentials(kAddress, QStringLiteral("123"));
        submitAndWait(); // error banner
        fx->server.enqueueReply("/auth/v1/token", Reply::empty(500).withDelay(300ms));
        typeCredentials(kAddress, kPassword);
        vm->submit();
        QCOMPARE(vm->errorMessage(), std::nullopt); // cleared at the click, not at the answer
        QTRY_VERIFY(!vm->isBusy());
        QCOMPARE(vm->errorMessage(), std::optional<QString>(QStringLiteral("服务器暂时不可用（500）。")));
    }

    void busyIgnoresASecondSubmit()
    {
        fx->server.auth().addUser(kAddress, kPassword);
        fx->server.enqueueReply("/auth/v1/token", Reply::empty(500).withDelay(300ms));
        QSignalSpy busy(vm.get(), &AuthViewModel::isBusyChanged);
        typeCredentials(kAddress, kPassword);
        vm->submit();
        QVERIFY(vm->isBusy());
        vm->submit();
        QTRY_VERIFY(!vm->isBusy());
        QCOMPARE(busy.count(), 2);
        QCOMPARE(fx->server.count("/auth/v1/token"), 1);
    }

    // The mode in force at the click decides, even when the user switches while the request runs.
    void modeIsTakenAtTheClick()
    {
        fx->server.enqueueReply("/auth/v1/signup", Reply::json(200, QJsonObject{{"id", "u-9"}}).withDelay(200ms));
        vm->switchMode();
        typeCredentials(kAddress, kPassword);
        vm->submit();
        vm->switchMode(); // back to sign-in while the registration runs
        QTRY_VERIFY(!vm->isBusy());
        QCOMPARE(vm->awaitingConfirmation(), std::optional<QString>(kAddress));
        QCOMPARE(fx->server.count("/auth/v1/token"), 0);
    }

    // The view is gone (the window closed) while its request is out: whatever the answer says,
    // it reaches no view model.
    void answerAfterTheViewModelIsGoneWritesNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Reply>("answer");
        QTest::newRow("sign-in refused") << "/auth/v1/token" << Reply::empty(400);
        QTest::newRow("registration awaits the confirmation")
            << "/auth/v1/signup" << Reply::json(200, QJsonObject{{"id", "u-1"}, {"email", kAddress}});
        QTest::newRow("registration of a known address") << "/auth/v1/signup" << Reply::empty(422);
        QTest::newRow("registration, server 503") << "/auth/v1/signup" << Reply::empty(503);
        QTest::newRow("confirmation mail sent again") << "/auth/v1/resend" << Reply::empty(200);
        QTest::newRow("confirmation mail refused") << "/auth/v1/resend" << Reply::empty(429);
    }

    void answerAfterTheViewModelIsGoneWritesNothing()
    {
        QFETCH(QString, path);
        QFETCH(Reply, answer);
        const bool resend = path.endsWith(QLatin1String("/resend"));
        if (resend)
            registerAwaitingConfirmation();
        else if (path.endsWith(QLatin1String("/signup")))
            vm->switchMode();
        typeCredentials(kAddress, kPassword);
        fx->server.enqueueReply(path, answer.withDelay(200ms));
        const int answered = http->answered;

        resend ? vm->resend() : vm->submit();
        vm.reset();
        // The request's caller resumes at once after the count goes up.
        QTRY_COMPARE_WITH_TIMEOUT(http->answered, answered + 1, 10000);
        QVERIFY(!fx->auth->isBusy());
        QVERIFY(!fx->auth->isSignedIn());
    }

    void modeSwitchClearsBannersAndKeepsTheTexts()
    {
        typeCredentials(kAddress, QStringLiteral("123"));
        submitAndWait();
        QVERIFY(vm->hasErrorMessage());
        QSignalSpy switched(vm.get(), &AuthViewModel::modeSwitched);

        vm->switchMode();
        QCOMPARE(vm->mode(), Mode::Register);
        QCOMPARE(vm->errorMessage(), std::nullopt);
        QCOMPARE(vm->infoMessage(), std::nullopt);
        QCOMPARE(vm->email(), kAddress);
        QCOMPARE(vm->password(), QStringLiteral("123"));
        QCOMPARE(vm->heading(), QStringLiteral("创建新账户"));
        QCOMPARE(vm->submitTitle(), QStringLiteral("注册"));
        QCOMPARE(vm->modeSwitchTitle(), QStringLiteral("已有账户？去登录"));
        QCOMPARE(switched.count(), 1);

        vm->switchMode();
        QCOMPARE(vm->mode(), Mode::Login);
        QCOMPARE(switched.count(), 2);
    }

    void emailExistsIsNotAnAnimatedSwitch()
    {
        fx->server.auth().addUser(kAddress, kPassword);
        vm->switchMode();
        QSignalSpy switched(vm.get(), &AuthViewModel::modeSwitched);
        typeCredentials(kAddress, kPassword);
        submitAndWait();
        QCOMPARE(vm->mode(), Mode::Login);
        QCOMPARE(switched.count(), 0);
    }

    void resend_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("info");
        QTest::newRow("accepted") << 200 << QStringLiteral("确认邮件已重新发送。");
        QTest::newRow("refused") << 429 << QStringLiteral("发送失败，请稍后再试。");
        QTest::newRow("connection lost") << -1 << QStringLiteral("发送失败，请稍后再试。");
    }

    void resend()
    {
        QFETCH(int, status);
        QFETCH(QString, info);
        registerAwaitingConfirmation();
        if (status == -1)
            dropConnections("/auth/v1/resend");
        else if (status != 200)
            fx->server.enqueueReply("/auth/v1/resend", Reply::empty(status));
        QSignalSpy infoChanged(vm.get(), &AuthViewModel::infoMessageChanged);

        vm->resend();
        QTRY_COMPARE(infoChanged.count(), 1);
        QCOMPARE(vm->infoMessage(), std::optional<QString>(info));
        QCOMPARE(vm->errorMessage(), std::nullopt);
        QCOMPARE(vm->awaitingConfirmation(), std::optional<QString>(kAddress));
        QCOMPARE(fx->server.lastRequest("/auth/v1/resend").jsonObject(),
                 (QJsonObject{{"type", "signup"}, {"email", kAddress}}));
    }

    // Each click sends another request, to the address the panel shows (not what the field holds now).
    void everyResendSendsAnotherRequestToThePanelsAddress()
    {
        vm->switchMode();
        typeCredentials(QStringLiteral(" ada@example.com "), kPassword);
        submitAndWait();
        vm->setEmail(QStringLiteral("other@example.com"));
        vm->resend();
        vm->resend();
        QTRY_COMPARE(fx->server.auth().resendCount(kAddress), 2);
        QVERIFY(!vm->isBusy());
    }

    void backToSignInFromTheRegisterPanel()
    {
        registerAwaitingConfirmation();
        vm->resend();
        QTRY_VERIFY(vm->hasInfoMessage());
        QSignalSpy switched(vm.get(), &AuthViewModel::modeSwitched);

        vm->backToSignIn();
        QCOMPARE(vm->awaitingConfirmation(), std::nullopt);
        QCOMPARE(vm->infoMessage(), std::nullopt);
        QCOMPARE(vm->mode(), Mode::Login);
        QCOMPARE(vm->email(), kAddress);
        QCOMPARE(vm->password(), kPassword);
        QCOMPARE(switched.count(), 0); // not animated
    }
};

QTEST_GUILESS_MAIN(TestAuthViewModel)
#include "tst_authviewmodel.moc"
