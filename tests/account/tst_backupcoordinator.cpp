// The backup coordinator: how each outcome of export, upload, download and import maps to a
// status, the hooks around a restore and their order, the status line, and a coordinator
// that goes away while it waits.

#include "BackupTestUtil.h"
#include "FakeBackupProvider.h"
#include "TaskRunner.h"

#include "account/BackupCoordinator.h"
#include "account/BackupService.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cstring>

using namespace std::chrono_literals;
using Status = BackupCoordinator::Status;
using Upload = FakeOutcome<qint64>;
using Download = FakeOutcome<std::optional<QByteArray>>;

Q_DECLARE_METATYPE(Upload)
Q_DECLARE_METATYPE(Download)

namespace {

QString statusName(Status status)
{
    return QString::fromLatin1(QMetaEnum::fromType<Status>().valueToKey(int(status)));
}

// Ends the coordinator but keeps its memory, filled with a pattern, for as long as the rig lives:
// a command that used its coordinator after the end would crash on the pattern or change it,
// where a freed block could still hold the old values and hide the fault.
struct Burial
{
    void **grave = nullptr;
    void operator()(BackupCoordinator *coordinator) const
    {
        coordinator->~BackupCoordinator();
        std::memset(static_cast<void *>(coordinator), 0xA5, sizeof(BackupCoordinator));
        *grave = coordinator;
    }
};

struct Rig
{
    TempStore temp;
    CardStore store{temp.container};
    BackupService service{&store, QStringLiteral("en")};
    std::shared_ptr<FakeBackupProvider> provider = std::make_shared<FakeBackupProvider>();
    void *grave = nullptr;
    std::unique_ptr<BackupCoordinator, Burial> coordinator{new BackupCoordinator(&service, provider), Burial{&grave}};
    QStringList log;

    Rig()
    {
        provider->log = &log;
        seedLibrary(store);
    }
    ~Rig()
    {
        coordinator.reset();
        ::operator delete(grave);
    }

    bool graveUntouched() const
    {
        const auto *bytes = static_cast<const unsigned char *>(grave);
        return bytes && std::all_of(bytes, bytes + sizeof(BackupCoordinator), [](unsigned char b) { return b == 0xA5; });
    }

    // Notes the hook's name a moment later (the application's hook waits for the store thread).
    static QCoro::Task<void> noteLater(Rig *rig, QString name)
    {
        co_await ContinuousClock::system()->sleepFor(100ms, {});
        rig->log.append(name);
    }

    // Notes the hook's name, the status while it runs and whose library the store holds.
    static QCoro::Task<void> note(Rig *rig, QString name)
    {
        const QString library = rig->store.record(QStringLiteral("ann|hello")) ? QStringLiteral("restored")
                                                                                 : QStringLiteral("old");
        rig->log.append(name + QLatin1Char(':') + statusName(rig->coordinator->status()) + QLatin1Char(':') + library);
        co_return;
    }

    void setHooks()
    {
        coordinator->setOnRestoreWillImport([this] { return note(this, QStringLiteral("willImport")); });
        coordinator->setOnRestoreDidSucceed([this] { return note(this, QStringLiteral("didSucceed")); });
    }
};

} // namespace

class TestBackupCoordinator : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data()
    {
        QTest::addColumn<bool>("isBackup");
        QTest::addColumn<Upload>("upload");
        QTest::addColumn<Download>("download");
        QTest::addColumn<bool>("exportFails");
        QTest::addColumn<bool>("withHooks");
        QTest::addColumn<Status>("expected");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QStringList>("expectedLog");

        const Upload noUpload;
        const Download noDownload;
        const QStringList uploaded{"upload"};
        QTest::newRow("backup stored") << true << Upload::success(1234) << noDownload << false << false
                                       << Status::BackupSucceeded << qint64(1234) << uploaded;
        QTest::newRow("backup unauthorized") << true << Upload::failure(BackupSyncError::unauthorized()) << noDownload
                                             << false << false << Status::SignedOut << qint64(0) << uploaded;
        QTest::newRow("backup too large") << true << Upload::failure(BackupSyncError::tooLarge()) << noDownload << false
                                          << false << Status::BackupTooLarge << qint64(0) << uploaded;
        QTest::newRow("backup server error") << true << Upload::failure(BackupSyncError::server(500)) << noDownload
                                             << false << false << Status::BackupFailed << qint64(0) << uploaded;
        QTest::newRow("backup transport") << true << Upload::failure(BackupSyncError::transport()) << noDownload
                                          << false << false << Status::BackupFailed << qint64(0) << uploaded;
        QTest::newRow("backup answer undecodable") << true << Upload::failure(BackupSyncError::decode()) << noDownload
                                                   << false << false << Status::BackupFailed << qint64(0) << uploaded;
        QTest::newRow("backup other error") << true << Upload::failure(std::runtime_error("x")) << noDownload << false
                                            << false << Status::BackupFailed << qint64(0) << uploaded;
        QTest::newRow("export fails: nothing uploaded") << true << Upload::success(1) << noDownload << true << false
                                                        << Status::BackupFailed << qint64(0) << QStringList();

        const Download good = Download::success(baseDocument);
        const QStringList downloaded{"download"};
        QTest::newRow("restore without a server backup")
            << false << noUpload << Download::success(std::nullopt) << false << true << Status::NoServerBackup
            << qint64(0) << downloaded;
        QTest::newRow("restore too large") << false << noUpload << Download::failure(BackupSyncError::tooLarge())
                                           << false << true << Status::RestoreFailed << qint64(0) << downloaded;
        QTest::newRow("restore unauthorized") << false << noUpload << Download::failure(BackupSyncError::unauthorized())
                                              << false << true << Status::SignedOut << qint64(0) << downloaded;
        QTest::newRow("restore transport") << false << noUpload << Download::failure(BackupSyncError::transport())
                                           << false << true << Status::RestoreFailed << qint64(0) << downloaded;
        QTest::newRow("restore of a malformed document")
            << false << noUpload << Download::success(QByteArray("{}")) << false << true << Status::RestoreFailed
            << qint64(0) << QStringList{"download", "willImport:InProgress:old"};
        QTest::newRow("restore") << false << noUpload << good << false << true << Status::RestoreSucceeded << qint64(0)
                                 << QStringList{"download", "willImport:InProgress:old",
                                                "didSucceed:RestoreSucceeded:restored"};
        QTest::newRow("restore without hooks")
            << false << noUpload << good << false << false << Status::RestoreSucceeded << qint64(0) << downloaded;
    }

    void outcomes()
    {
        QFETCH(bool, isBackup);
        QFETCH(Upload, upload);
        QFETCH(Download, download);
        QFETCH(bool, exportFails);
        QFETCH(bool, withHooks);
        QFETCH(Status, expected);
        QFETCH(qint64, size);
        QFETCH(QStringList, expectedLog);

        Rig rig;
        rig.provider->uploadScript.outcomes = {upload};
        rig.provider->downloadScript.outcomes = {download};
        if (withHooks)
            rig.setHooks();
        if (exportFails)
            rig.temp.raw().exec(QStringLiteral("DROP TABLE cards"));
        const QString before = fingerprint(rig.temp.path);
        QSignalSpy changes(rig.coordinator.get(), &BackupCoordinator::statusChanged);

        TaskRunner::run(isBackup ? rig.coordinator->backup() : rig.coordinator->restore());

        QCOMPARE(rig.coordinator->status(), expected);
        QCOMPARE(rig.coordinator->sizeBytes(), size);
        QCOMPARE(rig.log, expectedLog);
        QCOMPARE(changes.count(), 2); // InProgress, then the outcome
        if (expected == Status::RestoreSucceeded) {
            QCOMPARE(describeLibrary(rig.store),
                     QStringLiteral("ann|hello Hello 7 1714478400 fav [hello/greeting:mlf]; bo|min Min 0 1704067200 "
                                    "[plain/t:]"));
        } else {
            QCOMPARE(fingerprint(rig.temp.path), before);
        }
        if (expected == Status::BackupSucceeded)
            QVERIFY(rig.provider->uploads.first().contains("old|one"));
    }

    void secondCommandWhileRunning_data()
    {
        QTest::addColumn<qint64>("secondSize");
        QTest::addColumn<int>("changes");
        QTest::newRow("same size: the second success is no change") << qint64(10) << 2;
        QTest::newRow("another size: the second success is heard") << qint64(20) << 3;
    }

    // A second command while one runs starts at once; InProgress again is no change. The second
    // backup ends last, and its size is the one shown.
    void secondCommandWhileRunning()
    {
        QFETCH(qint64, secondSize);
        QFETCH(int, changes);
        Rig rig;
        rig.provider->uploadScript.outcomes = {Upload::success(10, 100ms), Upload::success(secondSize, 200ms)};
        QSignalSpy spy(rig.coordinator.get(), &BackupCoordinator::statusChanged);
        auto first = TaskRunner::start(rig.coordinator->backup());
        auto second = TaskRunner::start(rig.coordinator->backup());
        QCOMPARE(spy.count(), 1);
        QVERIFY(TaskRunner::waitUntilDone(first) && TaskRunner::waitUntilDone(second));
        QCOMPARE(rig.provider->uploadScript.calls, 2);
        QCOMPARE(rig.coordinator->status(), Status::BackupSucceeded);
        QCOMPARE(rig.coordinator->sizeBytes(), secondSize);
        QCOMPARE(rig.coordinator->statusText(), QStringLiteral("备份成功（%1 字节）").arg(secondSize));
        QCOMPARE(spy.count(), changes);
    }

    // Two backups that report the same size pass through InProgress: observers hear both.
    void equalOutcomesNotifyEachTime()
    {
        Rig rig;
        rig.provider->uploadScript.outcomes = {Upload::success(10)};
        QSignalSpy changes(rig.coordinator.get(), &BackupCoordinator::statusChanged);
        TaskRunner::run(rig.coordinator->backup());
        TaskRunner::run(rig.coordinator->backup());
        QCOMPARE(changes.count(), 4);
        QCOMPARE(rig.coordinator->statusText(), QStringLiteral("备份成功（10 字节）"));
    }

    void deletedWhileWaiting_data()
    {
        QTest::addColumn<bool>("isBackup");
        QTest::addColumn<int>("transferMs");
        QTest::addColumn<bool>("transferFails");
        QTest::addColumn<QStringList>("expectedLog");
        QTest::newRow("mid-upload") << true << 100 << false << QStringList{"upload"};
        QTest::newRow("mid-upload, which then fails") << true << 100 << true << QStringList{"upload"};
        QTest::newRow("mid-download") << false << 100 << false << QStringList{"download"};
        QTest::newRow("mid-download, which then fails") << false << 100 << true << QStringList{"download"};
        // The application's hook waits for the store thread; a sign-out can come meanwhile.
        QTest::newRow("in the will-import hook") << false << 0 << false << QStringList{"download", "willImport"};
    }

    // The user's objects are torn down (sign-out) while the command waits: when the wait ends,
    // the command touches nothing, neither the coordinator nor the store.
    void deletedWhileWaiting()
    {
        QFETCH(bool, isBackup);
        QFETCH(int, transferMs);
        QFETCH(bool, transferFails);
        QFETCH(QStringList, expectedLog);
        Rig rig;
        const std::chrono::milliseconds transfer(transferMs);
        const BackupSyncError failure = BackupSyncError::transport();
        rig.provider->uploadScript.outcomes = {transferFails ? Upload::failure(failure, transfer)
                                                             : Upload::success(10, transfer)};
        rig.provider->downloadScript.outcomes = {transferFails ? Download::failure(failure, transfer)
                                                               : Download::success(baseDocument, transfer)};
        rig.coordinator->setOnRestoreWillImport([&rig] { return Rig::noteLater(&rig, QStringLiteral("willImport")); });
        rig.coordinator->setOnRestoreDidSucceed([&rig] { return Rig::noteLater(&rig, QStringLiteral("didSucceed")); });
        const QString before = fingerprint(rig.temp.path);
        auto running = TaskRunner::start(isBackup ? rig.coordinator->backup() : rig.coordinator->restore());
        QVERIFY(!running->done());
        rig.coordinator.reset();
        rig.provider.reset(); // the transfer in flight keeps its provider
        QVERIFY(TaskRunner::waitUntilDone(running));
        running->take();
        QCOMPARE(rig.log, expectedLog);
        QCOMPARE(fingerprint(rig.temp.path), before);
        QVERIFY2(rig.graveUntouched(), "the ended command wrote to its coordinator");
    }

    void statusLines_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("color");

        const QColor cyan = QColor::fromRgb(34, 233, 255);
        const QColor pink = QColor::fromRgb(255, 79, 216);
        const QColor dim = QColor::fromRgbF(1, 1, 1, 0.7f);
        QTest::newRow("backup succeeded") << Status::BackupSucceeded << qint64(1234)
                                          << QStringLiteral("备份成功（1234 字节）") << cyan;
        QTest::newRow("large size, no grouping") << Status::BackupSucceeded << qint64(98765432)
                                                 << QStringLiteral("备份成功（98765432 字节）") << cyan;
        QTest::newRow("idle: no line") << Status::Idle << qint64(0) << QString() << QColor();
        QTest::newRow("in progress") << Status::InProgress << qint64(0) << QStringLiteral("处理中…") << dim;
        QTest::newRow("too large") << Status::BackupTooLarge << qint64(0) << QStringLiteral("备份超出服务器限制") << pink;
        QTest::newRow("backup failed") << Status::BackupFailed << qint64(0) << QStringLiteral("备份失败，请稍后重试")
                                       << pink;
        QTest::newRow("restored") << Status::RestoreSucceeded << qint64(0) << QStringLiteral("恢复成功") << cyan;
        QTest::newRow("no server backup") << Status::NoServerBackup << qint64(0) << QStringLiteral("服务器上暂无备份")
                                          << dim;
        QTest::newRow("restore failed") << Status::RestoreFailed << qint64(0) << QStringLiteral("恢复失败，请稍后重试")
                                        << pink;
        QTest::newRow("signed out") << Status::SignedOut << qint64(0) << QStringLiteral("登录已失效，请重新登录")
                                    << pink;
    }

    void statusLines()
    {
        QFETCH(Status, status);
        QFETCH(qint64, size);
        QFETCH(QString, text);
        QFETCH(QColor, color);
        const BackupCoordinator::StatusLine line = BackupCoordinator::statusLine(status, size);
        QCOMPARE(line.text, text);
        QCOMPARE(line.color, color);
    }
};

QTEST_GUILESS_MAIN(TestBackupCoordinator)
#include "tst_backupcoordinator.moc"
