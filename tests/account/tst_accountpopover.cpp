// The account icon and its popover, loaded from the module with a real coordinator over a
// scripted backup provider and a real sign-in service on the HTTP fake: the status line of
// every outcome, the e-mail row, the disabled commands while one runs, opening and closing,
// where the popover opens, and sign-out closing the popover first. Any QML warning fails.
//
// With CANTORELLA_SCREENSHOT_DIR set (run under xvfb-run with QT_QPA_PLATFORM=xcb) the states
// are also written there as pictures.

#include "AuthFixture.h"
#include "BackupTestUtil.h"
#include "FakeBackupProvider.h"

#include "account/BackupCoordinator.h"
#include "account/BackupService.h"
#include "backend/BackupSyncError.h"

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
using Status = BackupCoordinator::Status;
using Upload = FakeOutcome<qint64>;
using Download = FakeOutcome<std::optional<QByteArray>>;

namespace {

// The icon alone in a window, at a place the test chooses.
const QByteArray kHost = R"(
import QtQuick
import Cantorella.Account
import Cantorella.Design
Window {
    id: host
    required property QtObject authService
    required property BackupCoordinator coordinator
    required property point iconPosition
    property alias icon: icon
    color: Theme.backgroundInk
    UserInfoIcon {
        id: icon
        x: host.iconPosition.x
        y: host.iconPosition.y
        auth: host.authService
        backupCoordinator: host.coordinator
    }
}
)";

const QByteArray kEmptyBackup = R"({"appBuild": "1", "exportedAt": "2024-05-01T10:00:00Z", "namespaces": {}})";

const QColor kNeonCyan = QColor::fromRgb(34, 233, 255);
const QColor kNeonPink = QColor::fromRgb(255, 79, 216);
const QColor kDimWhite = QColor::fromRgbF(1, 1, 1, 0.7f);

// How one row of the status table is reached.
struct StatusCase
{
    const char *name;
    bool backup; // else restore
    Upload upload;
    Download download;
    Status status;
    QString text;
    QColor color;
};

QList<StatusCase> statusCases()
{
    const Upload noUpload;
    const Download noDownload;
    return {
        {"succeeded", true, Upload::success(2048), noDownload, Status::BackupSucceeded,
         QStringLiteral("备份成功（2048 字节）"), kNeonCyan},
        {"in progress", true, Upload::success(1, 3s), noDownload, Status::InProgress, QStringLiteral("处理中…"),
         kDimWhite},
        {"too large", true, Upload::failure(BackupSyncError::tooLarge()), noDownload, Status::BackupTooLarge,
         QStringLiteral("备份超出服务器限制"), kNeonPink},
        {"backup failed", true, Upload::failure(BackupSyncError::server(500)), noDownload, Status::BackupFailed,
         QStringLiteral("备份失败，请稍后重试"), kNeonPink},
        {"restored", false, noUpload, Download::success(kEmptyBackup), Status::RestoreSucceeded,
         QStringLiteral("恢复成功"), kNeonCyan},
        {"no server backup", false, noUpload, Download::success(std::nullopt), Status::NoServerBackup,
         QStringLiteral("服务器上暂无备份"), kDimWhite},
        {"restore failed", false, noUpload, Download::failure(BackupSyncError::tooLarge()), Status::RestoreFailed,
         QStringLiteral("恢复失败，请稍后重试"), kNeonPink},
        {"signed out", false, noUpload, Download::failure(BackupSyncError::unauthorized()), Status::SignedOut,
         QStringLiteral("登录已失效，请重新登录"), kNeonPink},
    };
}

bool sameColor(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 1 && qAbs(a.green() - b.green()) <= 1 && qAbs(a.blue() - b.blue()) <= 1
        && qAbs(a.alpha() - b.alpha()) <= 1;
}

QString screenshotDir()
{
    return qEnvironmentVariable("CANTORELLA_SCREENSHOT_DIR");
}

} // namespace

class TestAccountPopover : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<AuthFixture> fx;
    std::unique_ptr<TempStore> temp;
    std::unique_ptr<CardStore> store;
    std::unique_ptr<BackupService> service;
    std::shared_ptr<FakeBackupProvider> provider;
    std::unique_ptr<BackupCoordinator> coordinator;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickWindow> window;

    QQuickItem *icon() const { return window->property("icon").value<QQuickItem *>(); }
    QObject *popover() const { return icon()->property("popover").value<QObject *>(); }
    bool popoverOpen() const { return popover()->property("visible").toBool(); }

    QQuickItem *child(const QString &name) const
    {
        auto *found = icon()->findChild<QQuickItem *>(name);
        if (!found)
            qFatal("no item named %s", qPrintable(name));
        return found;
    }
    bool shows(const QString &name) const { return child(name)->isVisible(); }

    // Signs in with `email` (none: a session without an address) and shows the icon.
    [[nodiscard]] bool show(std::optional<QString> email, QPoint iconPosition = {24, 20}, QSize size = {360, 320})
    {
        AuthSession session = fx->issuedSession(QStringLiteral("ann@example.com"));
        session.email = email;
        fx->store(session);
        fx->start();

        QQmlComponent component(engine.get());
        component.setData(kHost, QUrl(QStringLiteral("qrc:/tst_accountpopover/Host.qml")));
        QObject *created = component.isReady()
            ? component.createWithInitialProperties(
                  {{QStringLiteral("authService"), QVariant::fromValue<QObject *>(fx->auth.get())},
                   {QStringLiteral("coordinator"), QVariant::fromValue<QObject *>(coordinator.get())},
                   {QStringLiteral("iconPosition"), QPointF(iconPosition)}})
            : nullptr;
        if (!created) {
            qCritical().noquote() << component.errorString();
            return false;
        }
        window.reset(qobject_cast<QQuickWindow *>(created));
        window->resize(size);
        window->show();
        window->requestActivate();
        return QTest::qWaitForWindowExposed(window.get());
    }

    void click(QQuickItem *item)
    {
        QVERIFY(item->isVisible());
        const QPoint centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, centre);
    }

    void openPopover()
    {
        click(icon());
        QTRY_VERIFY(popoverOpen());
    }

    void screenshot(const QString &name)
    {
        if (screenshotDir().isEmpty())
            return;
        QTest::qWait(300);
        QVERIFY(QDir().mkpath(screenshotDir()));
        QVERIFY(window->grabWindow().save(QStringLiteral("%1/popover-%2.png").arg(screenshotDir(), name)));
    }

private slots:
    void initTestCase()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        QGuiApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC")));
    }

    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!.*failed to acquire GL context).*")));
        fx = std::make_unique<AuthFixture>();
        temp = std::make_unique<TempStore>();
        store = std::make_unique<CardStore>(temp->container);
        service = std::make_unique<BackupService>(store.get(), QStringLiteral("en"));
        provider = std::make_shared<FakeBackupProvider>();
        coordinator = std::make_unique<BackupCoordinator>(service.get(), provider);
        engine = std::make_unique<QQmlEngine>();
        engine->addImportPath(QStringLiteral("qrc:/"));
    }

    void cleanup()
    {
        window.reset();
        engine.reset();
        coordinator.reset(); // a command still waiting ends without touching anything
        service.reset();
        store.reset();
        temp.reset();
        fx.reset();
    }

    void statusLine_data()
    {
        QTest::addColumn<int>("row");
        const QList<StatusCase> cases = statusCases();
        for (int i = 0; i < cases.size(); ++i)
            QTest::newRow(cases[i].name) << i;
    }

    // Each outcome's line and colour; both commands are disabled only while one runs, sign-out
    // never. The line stays after the popover is closed and opened again.
    void statusLine()
    {
        QFETCH(int, row);
        const StatusCase c = statusCases().at(row);
        provider->uploadScript.outcomes = {c.upload};
        provider->downloadScript.outcomes = {c.download};
        QVERIFY(show(QStringLiteral("ann@example.com")));
        openPopover();
        QVERIFY(!shows("userInfo.status")); // idle: no line
        QVERIFY(child("userInfo.backup")->isEnabled() && child("userInfo.restore")->isEnabled());

        click(child(c.backup ? "userInfo.backup" : "userInfo.restore"));
        QTRY_COMPARE(coordinator->status(), c.status);
        QVERIFY(shows("userInfo.status"));
        QCOMPARE(child("userInfo.status")->property("text").toString(), c.text);
        const QColor color = child("userInfo.status")->property("color").value<QColor>();
        QVERIFY2(sameColor(color, c.color), qPrintable(color.name(QColor::HexArgb)));
        const bool running = c.status == Status::InProgress;
        QCOMPARE(child("userInfo.backup")->isEnabled(), !running);
        QCOMPARE(child("userInfo.restore")->isEnabled(), !running);
        QVERIFY(child("userInfo.signOut")->isEnabled());
        if (running) {
            // A press on a disabled command starts nothing.
            click(child("userInfo.restore"));
            QCOMPARE(provider->downloadScript.calls, 0);
        }
        if (c.status == Status::InProgress || c.status == Status::BackupSucceeded || c.status == Status::BackupFailed)
            screenshot(QString::fromLatin1(c.name).replace(u' ', u'-'));

        QTest::keyClick(window.get(), Qt::Key_Escape);
        QTRY_VERIFY(!popoverOpen());
        openPopover();
        QCOMPARE(child("userInfo.status")->property("text").toString(), c.text);
    }

    void emailRow_data()
    {
        QTest::addColumn<QString>("address"); // empty: the session has none
        QTest::newRow("address") << QStringLiteral("ann@example.com");
        QTest::newRow("markup shown as typed") << QStringLiteral("<b>ann</b>@example.com");
        QTest::newRow("no address") << QString();
    }

    // The address row is there only with an address, as plain text; without it the popover
    // starts with the divider.
    void emailRow()
    {
        QFETCH(QString, address);
        const std::optional<QString> email = address.isEmpty() ? std::nullopt : std::optional<QString>(address);
        QVERIFY(show(email));
        openPopover();
        QQuickItem *row = child("userInfo.email");
        QCOMPARE(row->isVisible(), email.has_value());
        if (email) {
            QCOMPARE(row->property("text").toString(), *email);
            QCOMPARE(row->property("textFormat").toInt(), 0); // Text.PlainText
        } else {
            const QPointF content = child("userInfo.content")->mapToScene(QPointF(0, 0));
            QCOMPARE(child("userInfo.divider")->mapToScene(QPointF(0, 0)).y(), content.y());
            screenshot(QStringLiteral("no-email"));
        }
        QVERIFY(shows("userInfo.backupSection") && shows("userInfo.secondDivider"));
        QVERIFY(shows("userInfo.note"));
        if (email && !email->contains(u'<'))
            screenshot(QStringLiteral("idle"));
    }

    void noSessionNoIcon()
    {
        QVERIFY(show(QStringLiteral("ann@example.com")));
        openPopover();
        TaskRunner::run(fx->auth->signOut());
        QVERIFY(!icon()->isVisible());
        QTRY_VERIFY(!popoverOpen());
    }

    // A long status wraps at the popover's width instead of widening it or being cut off.
    void longStatusWraps()
    {
        provider->uploadScript.outcomes = {Upload::success(std::numeric_limits<qint64>::max())};
        QVERIFY(show(QStringLiteral("ann@example.com")));
        openPopover();
        const qreal widthBefore = popover()->property("width").toReal();
        click(child("userInfo.backup"));
        QTRY_COMPARE(coordinator->status(), Status::BackupSucceeded);
        QQuickItem *status = child("userInfo.status");
        QCOMPARE(status->property("text").toString(), QStringLiteral("备份成功（9223372036854775807 字节）"));
        QCOMPARE(popover()->property("width").toReal(), widthBefore);
        QTRY_VERIFY(status->property("lineCount").toInt() >= 2);
        QCOMPARE(status->property("truncated").toBool(), false);
        screenshot(QStringLiteral("wrapped-status"));
    }

    // The icon opens and closes it; Escape and a press outside close it; a press inside does not.
    void openAndClose()
    {
        QVERIFY(show(QStringLiteral("ann@example.com")));
        openPopover();
        click(child("userInfo.note"));
        QVERIFY(popoverOpen());
        click(icon());
        QTRY_VERIFY(!popoverOpen());

        openPopover();
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QTRY_VERIFY(!popoverOpen());

        openPopover();
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(window->width() - 10, window->height() - 10));
        QTRY_VERIFY(!popoverOpen());
    }

    void placement_data()
    {
        QTest::addColumn<QPoint>("iconAt");
        QTest::addColumn<bool>("above");
        QTest::newRow("top left: below") << QPoint(8, 10) << false;
        QTest::newRow("bottom right: above") << QPoint(324, 280) << true;
    }

    // Above the icon when there is room, else below; always inside the window.
    void placement()
    {
        QFETCH(QPoint, iconAt);
        QFETCH(bool, above);
        QVERIFY(show(QStringLiteral("ann@example.com"), iconAt));
        openPopover();
        QCOMPARE(popover()->property("opensAbove").toBool(), above);
        QQuickItem *panel = child("userInfo.content")->parentItem();
        const QRectF box(panel->mapToScene(QPointF(0, 0)), panel->size());
        const QRectF iconBox(icon()->mapToScene(QPointF(0, 0)), icon()->size());
        QVERIFY2(QRectF(0, 0, window->width(), window->height()).contains(box), qPrintable(QDebug::toString(box)));
        QVERIFY(!box.intersects(iconBox));
        QCOMPARE(box.bottom() <= iconBox.top(), above);
    }

    // "退出登录" closes the popover before the session is cleared and the logout is sent.
    void signOutClosesFirst()
    {
        QVERIFY(show(QStringLiteral("ann@example.com")));
        openPopover();
        QSignalSpy hidden(popover(), SIGNAL(aboutToHide()));
        int hiddenAtSignOut = -1;
        bool openAtSignOut = true;
        connect(fx->auth.get(), &AuthService::sessionChanged, this, [&] {
            hiddenAtSignOut = int(hidden.count());
            openAtSignOut = popoverOpen();
        });
        const int logoutsBefore = fx->server.count(QStringLiteral("/auth/v1/logout"));
        click(child("userInfo.signOut"));
        QCOMPARE(hiddenAtSignOut, 1);
        QVERIFY(!openAtSignOut);
        QVERIFY(!fx->auth->isSignedIn());
        QVERIFY(!icon()->isVisible());
        QTRY_COMPARE(fx->server.count(QStringLiteral("/auth/v1/logout")), logoutsBefore + 1);
    }
};

QTEST_MAIN(TestAccountPopover)
#include "tst_accountpopover.moc"
