// Sharing a card in real use, under a virtual X display: the shell in this process on a private
// session bus, the local stand-in server and mpv playing a demo song. A lit card's share control
// opens the sheet; "保存为 PNG" opens Qt's own save dialog over the window, which takes no input
// while it is open; Escape cancels without a toast; a folder typed before the suggested name and
// Enter write the PNG there, with its toast; saving over that file asks first; "分享…" puts the
// picture on the clipboard, with its toast. Screenshots of the sheet and of the dialog over the
// window go to build/screenshots/story-share/.

#include "DemoApp.h"
#include "WindowDriver.h"

#include "session/ToastCenter.h"
#include "session/player/PlayerViewModel.h"

#include <QClipboard>
#include <QFileDialog>
#include <QImageReader>
#include <QLineEdit>
#include <QAbstractButton>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

using namespace WindowDriver;

namespace {

const QString screenshots = QStringLiteral(CANTORELLA_BINARY_DIR "/screenshots/story-share");

QFileDialog *shownFileDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QFileDialog *>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// The screen where the window and the dialog are (a dialog is a window of its own, so the
// window's grab does not show it).
bool screenshotOfScreen(const QRect &area, const QString &name)
{
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(area);
    return !image.isNull() && image.save(QDir(screenshots).filePath(name));
}

void typeFolderAndEnter(QLineEdit *nameEdit, const QString &folder)
{
    QTest::mouseClick(nameEdit, Qt::LeftButton);
    QTest::keyClick(nameEdit, Qt::Key_Home);
    QTest::keyClicks(nameEdit, folder + u'/');
    QTest::keyClick(nameEdit, Qt::Key_Return);
}

QString toastShown(QQuickWindow *window)
{
    QQuickItem *text = item(window, QStringLiteral("toastView.text"));
    return text && text->isVisible() ? text->property("text").toString() : QString();
}

} // namespace

class TestShareRealUse : public QObject
{
    Q_OBJECT

    demo::Stage m_stage;
    demo::Playback &m_playback = m_stage.playback;

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "run on an X display (support/on-own-display.sh)");
        const QString failed = m_stage.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QDir().mkpath(screenshots);
    }

    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("qrc:/|QML|qml"))); }

    void saveAndShareACard()
    {
        demo::SignedInApp app;
        QVERIFY(app.start(m_playback.base(), QStringLiteral("share@example.com")));
        QQuickWindow *window = app.window();
        resize(window, 800, 950);
        QVERIFY(m_playback.play(QStringLiteral("grace.ogg")));
        PlayerViewModel *vm = app.appState()->viewModel();
        QTRY_VERIFY_WITH_TIMEOUT(vm->cards().size() >= 2 && !vm->isLoadingCards(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(litRow(window), 15000);

        // The lit card's share control opens the sheet.
        QObject *sheet = window->findChild<QObject *>(QStringLiteral("shareSheet"));
        QVERIFY(sheet);
        QVERIFY(pointAndClick(window, firstVisible(litRow(window), QStringLiteral("glassCard.share"))));
        QTRY_VERIFY(sheet->property("opened").toBool());
        QTest::qWait(400); // the sheet's entrance
        QVERIFY(screenshot(window, screenshots, QStringLiteral("realuse-sheet")));
        const QString suggested = sheet->property("controller").value<QObject *>()->property("suggestedFileName").toString();
        QVERIFY2(suggested.startsWith(QStringLiteral("Cantorella-Amazing-Grace-")) && suggested.endsWith(QStringLiteral(".png")),
                 qPrintable(suggested));

        // "保存为 PNG", in the window at its smallest: the save dialog, with its title and the
        // suggested name.
        resize(window, 680, 800);
        QVERIFY(pointAndClick(window, item(window, QStringLiteral("shareSheet.save"))));
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = shownFileDialog()));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("保存歌词卡片"));
        auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(nameEdit);
        QCOMPARE(nameEdit->text(), suggested);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QTest::qWait(300);
        const QRect frames = window->frameGeometry().united(dialog->frameGeometry());
        QVERIFY(screenshotOfScreen(frames, QStringLiteral("realuse-save-dialog-680x800.png")));

        // The window takes no input while the dialog is open: its close button does nothing.
        QVERIFY(click(window, item(window, QStringLiteral("shareSheet.close"))));
        QTest::qWait(200);
        QVERIFY(sheet->property("opened").toBool());

        // Escape cancels, without a toast.
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_VERIFY(!shownFileDialog());
        QTest::qWait(200);
        QCOMPARE(toastShown(window), QString());

        // Again: a folder typed before the suggested name, then Enter.
        QVERIFY(pointAndClick(window, item(window, QStringLiteral("shareSheet.save"))));
        QTRY_VERIFY((dialog = shownFileDialog()));
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QTemporaryDir out;
        typeFolderAndEnter(dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")), out.path());
        const QString saved = out.filePath(suggested);
        QTRY_VERIFY(QFile::exists(saved));
        QTRY_VERIFY(!shownFileDialog());
        QTRY_COMPARE(toastShown(window), QStringLiteral("已保存到 ") + suggested);
        const int side = qRound(600 * std::max(2.0, window->screen()->devicePixelRatio()));
        QCOMPARE(QImageReader(saved, "png").read().size(), QSize(side, side));

        // Saving over an existing file: the dialog asks first, and "Yes" replaces it.
        QFile stale(saved);
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("not a picture") > 0);
        stale.close();
        QVERIFY(pointAndClick(window, item(window, QStringLiteral("shareSheet.save"))));
        QTRY_VERIFY((dialog = shownFileDialog()));
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        // The question runs its own loop inside Enter's key press: it is answered from a timer.
        QString asked;
        QTimer answer;
        answer.callOnTimeout([&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                answer.stop();
                asked = box->text();
                QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
            }
        });
        answer.start(50);
        typeFolderAndEnter(dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")), out.path());
        QTRY_VERIFY2(asked.contains(suggested), qPrintable(asked));
        QTRY_VERIFY(!shownFileDialog());
        QTRY_COMPARE(QImageReader(saved, "png").read().size(), QSize(side, side));

        // "分享…": the picture on the clipboard.
        QGuiApplication::clipboard()->clear();
        QVERIFY(pointAndClick(window, item(window, QStringLiteral("shareSheet.share"))));
        QTRY_COMPARE(toastShown(window), QStringLiteral("已复制到剪贴板"));
        QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(side, side));
        QVERIFY(sheet->property("opened").toBool()); // the sheet never closes itself
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!sheet->property("visible").toBool());

        m_playback.stopPlayer();
    }
};

CANTORELLA_APP_TEST_MAIN(TestShareRealUse)

#include "tst_share_realuse_xvfb.moc"
