#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"
#include "session/ToastCenter.h"
#include "session/player/PlayerViewModel.h"
#include "ui/library/ShareServices.h"
#include "ui/library/ShareSheetController.h"

#include "DesignTestSupport.h"
#include "ShareFixtures.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

class FakeRenderer : public ShareCardRenderer
{
public:
    bool fail = false;
    int calls = 0;
    QImage render(const ShareCardContent &) override
    {
        ++calls;
        if (fail)
            return {};
        QImage image(12, 12, QImage::Format_ARGB32);
        image.fill(Qt::cyan);
        return image;
    }
};

class FakeClipboard : public ShareClipboard
{
public:
    bool accept = true;
    QList<QImage> written;
    bool writeImage(const QImage &image) override
    {
        written.append(image);
        return accept;
    }
};

class FakePicker : public ShareSavePicker
{
public:
    std::optional<QString> path;
    QString title;
    QString suggested;
    bool answerLater = false;
    Chosen pending;
    void pickPath(const QString &t, const QString &name, Chosen chosen) override
    {
        title = t;
        suggested = name;
        if (answerLater)
            pending = std::move(chosen);
        else
            chosen(path);
    }
};

// A folder nothing can be written into, not even by root (which ignores permission bits): the
// immutable attribute then. False when neither works here.
bool makeReadOnly(const QString &dir, bool readOnly)
{
    if (geteuid() != 0)
        return QFile::setPermissions(dir, readOnly ? QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                   : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                         QFileDevice::ExeOwner);
    return QProcess::execute(QStringLiteral("chattr"), {readOnly ? "+i" : "-i", dir}) == 0;
}

} // namespace

class TstShareSheet : public QObject
{
    Q_OBJECT

    ManualContinuousClock m_clock;
    std::unique_ptr<ToastCenter> m_toasts;
    std::unique_ptr<ShareSheetController> m_sheet;
    FakeRenderer *m_renderer = nullptr;
    FakeClipboard *m_clipboard = nullptr;
    FakePicker *m_picker = nullptr;
    QTemporaryDir m_dir;

    void presentWorkedExample()
    {
        ShareCardContent content = sharefixture::fullCard();
        content.songTitle = QStringLiteral("Hello, World!");
        content.phrase = QStringLiteral("kick off");
        m_sheet->present(content);
    }

private slots:
    void initTestCase() { designtest::configureApplication(); }

    void init()
    {
        m_toasts = std::make_unique<ToastCenter>(&m_clock);
        m_sheet = std::make_unique<ShareSheetController>();
        m_sheet->setToastCenter(m_toasts.get());
        auto renderer = std::make_unique<FakeRenderer>();
        auto clipboard = std::make_unique<FakeClipboard>();
        auto picker = std::make_unique<FakePicker>();
        m_renderer = renderer.get();
        m_clipboard = clipboard.get();
        m_picker = picker.get();
        m_sheet->setServices(std::move(renderer), std::move(clipboard), std::move(picker));
        presentWorkedExample();
    }

    void toasts_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("renderFails");
        QTest::addColumn<bool>("clipboardAccepts");
        QTest::addColumn<bool>("pickerCancels");
        QTest::addColumn<QString>("toast");

        for (const char *action : {"copy", "save", "share"})
            QTest::addRow("%s: no image", action) << action << true << true << false << "生成图片失败";
        QTest::newRow("copy: written") << "copy" << false << true << false << "已复制到剪贴板";
        QTest::newRow("copy: refused") << "copy" << false << false << false << "复制失败";
        QTest::newRow("share: written") << "share" << false << true << false << "已复制到剪贴板";
        // Without a picker, sharing copies, and says so only when the copy worked.
        QTest::newRow("share: refused") << "share" << false << false << false << "复制失败";
        QTest::newRow("save: written") << "save" << false << true << false
                                       << "已保存到 Cantorella-Hello-World-kick-off.png";
        QTest::newRow("save: cancelled") << "save" << false << true << true << "";
    }

    void toasts()
    {
        QFETCH(QString, action);
        QFETCH(bool, renderFails);
        QFETCH(bool, clipboardAccepts);
        QFETCH(bool, pickerCancels);
        QFETCH(QString, toast);

        m_renderer->fail = renderFails;
        m_clipboard->accept = clipboardAccepts;
        if (!pickerCancels)
            m_picker->path = m_dir.filePath(QStringLiteral("Cantorella-Hello-World-kick-off.png"));
        QSignalSpy shown(m_toasts.get(), &ToastCenter::currentChanged);

        if (action == "copy")
            m_sheet->copyImage();
        else if (action == "save")
            m_sheet->saveImage();
        else
            m_sheet->shareImage();

        QCOMPARE(shown.count(), toast.isEmpty() ? 0 : 1);
        QCOMPARE(m_toasts->currentText(), toast);
        QVERIFY(m_sheet->isOpen()); // the sheet never closes itself
        if (action == "save" && !renderFails) {
            QCOMPARE(m_picker->title, QStringLiteral("保存歌词卡片"));
            QCOMPARE(m_picker->suggested, QStringLiteral("Cantorella-Hello-World-kick-off.png"));
        }
        if (action != "save" && !renderFails)
            QCOMPARE(m_clipboard->written.size(), 1);
    }

    void saveIntoReadOnlyFolderKeepsTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("card.png"));
        const QByteArray original("an existing picture the user cares about");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(original);
        }
        if (!makeReadOnly(dir.path(), true))
            QSKIP("cannot make a folder read-only here");
        m_picker->path = path;
        m_sheet->saveImage();
        makeReadOnly(dir.path(), false);

        QVERIFY2(m_toasts->currentText().startsWith(QStringLiteral("保存失败：")), qPrintable(m_toasts->currentText()));
        QVERIFY(m_toasts->currentText().size() > QStringLiteral("保存失败：").size());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), original);
    }

    void exportedPngSize_data()
    {
        QTest::addColumn<double>("screenRatio");
        QTest::addColumn<int>("side");
        QTest::newRow("1") << 1.0 << 1200;
        QTest::newRow("2") << 2.0 << 1200;
        QTest::newRow("3") << 3.0 << 1800;
    }

    void exportedPngSize()
    {
        QFETCH(double, screenRatio);
        QFETCH(int, side);
        m_sheet->setServices(std::make_unique<PainterShareCardRenderer>([=] { return screenRatio; }), nullptr,
                             nullptr);
        const QString path = m_dir.filePath(QStringLiteral("export-%1.png").arg(screenRatio));
        m_picker->path = path;
        m_sheet->saveImage();
        QCOMPARE(m_toasts->currentText(), QStringLiteral("已保存到 export-%1.png").arg(screenRatio));
        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.size(), QSize(side, side));
        // Overwriting the same file works too (the dialog asked the user already).
        m_sheet->saveImage();
        QCOMPARE(m_toasts->currentText(), QStringLiteral("已保存到 export-%1.png").arg(screenRatio));
    }

    // The dialog does not block: it answers later, and an answer that comes after the sheet's
    // controller is gone (the user signed out meanwhile) writes nothing.
    void saveAnswersLater()
    {
        const QString path = m_dir.filePath(QStringLiteral("later.png"));
        m_picker->path = path;
        m_picker->answerLater = true;
        m_sheet->saveImage();
        QCOMPARE(m_toasts->currentText(), QString());
        ShareSavePicker::Chosen pending = std::move(m_picker->pending);
        QVERIFY(pending);
        pending(path);
        QCOMPARE(m_toasts->currentText(), QStringLiteral("已保存到 later.png"));

        QFile::remove(path);
        m_sheet->saveImage();
        pending = std::move(m_picker->pending);
        m_sheet.reset();
        pending(path);
        QVERIFY(!QFile::exists(path));
    }

    void presentAndDismiss()
    {
        QSignalSpy changed(m_sheet.get(), &ShareSheetController::contentChanged);
        QVERIFY(m_sheet->isOpen());
        QVERIFY(!m_sheet->previewImage().isNull());
        m_sheet->dismiss();
        QVERIFY(!m_sheet->isOpen());
        m_sheet->dismiss();
        QCOMPARE(changed.count(), 1);
    }

    // Which lyrics a stored card's hero comes from.
    void heroLinesOfACard_data()
    {
        QTest::addColumn<QString>("playingTitle");
        QTest::addColumn<QVariant>("slotTime");
        QTest::addColumn<QString>("hero");
        QTest::addColumn<bool>("fallback");
        // The playing song is the card's song: the player's lines.
        QTest::newRow("playing song") << "Locked" << QVariant() << "playing line at 20" << false;
        QTest::newRow("slot time wins") << "Locked" << QVariant(10.0) << "playing line at 10" << false;
        // Another song plays: the card's own song's stored lyrics, never the playing song's.
        QTest::newRow("locked song, not playing") << "Other" << QVariant() << "stored line at 20" << false;
    }

    void heroLinesOfACard()
    {
        QFETCH(QString, playingTitle);
        QFETCH(QVariant, slotTime);
        QFETCH(QString, hero);
        QFETCH(bool, fallback);

        QTemporaryDir dir;
        QSettings settings(dir.filePath("d.ini"), QSettings::IniFormat);
        PlayerViewModelDependencies deps;
        deps.settings = &settings;
        PlayerViewModel vm([] { return ContinuousInstant{}; }, deps);
        NowPlayingTrack track;
        track.title = playingTitle;
        track.artist = QStringLiteral("Artist");
        vm.setTrack(track);
        vm.setLyricLines({{10, QStringLiteral("playing line at 10")}, {20, QStringLiteral("playing line at 20")}});

        SongRecord record(QStringLiteral("artist|locked"), QStringLiteral("Locked"), QStringLiteral("Artist"),
                          QStringLiteral("[00:10.00]stored line at 10\n[00:20.00]stored line at 20\n"));
        std::unique_ptr<LearnedCard> card(new LearnedCard(record.key(), "en", "cn", "", "the example", "tag", 20.0,
                                                          false, &record, std::nullopt, std::nullopt,
                                                          std::nullopt));
        m_sheet->setVm(&vm);
        m_sheet->present(card.get(), slotTime);
        QVERIFY(m_sheet->content());
        QCOMPARE(m_sheet->content()->heroLine, hero);
        QCOMPARE(m_sheet->content()->heroIsFallback, fallback);
        QCOMPARE(m_sheet->content()->songTitle, QStringLiteral("Locked"));
        QCOMPARE(m_sheet->heroIsFallback(), fallback);
    }

    // Without a dialog of the desktop's own, Qt draws the save dialog: in the windows' dark
    // scheme, every text legible on what it is drawn on.
    void saveDialogIsDark_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("foreground");
        QTest::addColumn<int>("background");
        QTest::addColumn<double>("minimumContrast");
        for (const auto &[name, group] : {std::pair("active", QPalette::Active), std::pair("inactive", QPalette::Inactive)}) {
            QTest::addRow("%s text on fields", name) << int(group) << int(QPalette::Text) << int(QPalette::Base) << 4.5;
            QTest::addRow("%s labels on the window", name) << int(group) << int(QPalette::WindowText) << int(QPalette::Window) << 4.5;
            QTest::addRow("%s button labels", name) << int(group) << int(QPalette::ButtonText) << int(QPalette::Button) << 4.5;
            QTest::addRow("%s selected entries", name) << int(group) << int(QPalette::HighlightedText) << int(QPalette::Highlight) << 4.5;
            QTest::addRow("%s placeholder", name) << int(group) << int(QPalette::PlaceholderText) << int(QPalette::Base) << 3.0;
        }
        QTest::newRow("disabled labels") << int(QPalette::Disabled) << int(QPalette::WindowText) << int(QPalette::Window) << 3.0;
    }
    void saveDialogIsDark()
    {
        QFETCH(int, group);
        QFETCH(int, foreground);
        QFETCH(int, background);
        QFETCH(double, minimumContrast);
        FileDialogSavePicker picker;
        picker.pickPath(QStringLiteral("保存歌词卡片"), QStringLiteral("card.png"), [](std::optional<QString>) {});
        QFileDialog *dialog = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *d = qobject_cast<QFileDialog *>(widget))
                dialog = d;
        }
        QVERIFY(dialog);
        const QPalette palette = dialog->palette();
        QVERIFY(palette.color(QPalette::Window).lightnessF() < 0.15);
        const auto luminance = [](QColor c) {
            const auto channel = [](float v) { return v <= 0.03928f ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
        };
        const double fg = luminance(palette.color(QPalette::ColorGroup(group), QPalette::ColorRole(foreground)));
        const double bg = luminance(palette.color(QPalette::ColorGroup(group), QPalette::ColorRole(background)));
        const double contrast = (std::max(fg, bg) + 0.05) / (std::min(fg, bg) + 0.05);
        QVERIFY2(contrast >= minimumContrast, qPrintable(QString::number(contrast)));
        // The dialog's own widgets draw with it.
        auto *nameEdit = dialog->findChild<QWidget *>(QStringLiteral("fileNameEdit"));
        QVERIFY(nameEdit);
        QCOMPARE(nameEdit->palette().color(QPalette::Base), palette.color(QPalette::Base));
    }

    void lockedSongWithoutLyricsFallsBack()
    {
        SongRecord record(QStringLiteral("a|t"), QStringLiteral("T"), QStringLiteral("A"), QString());
        std::unique_ptr<LearnedCard> card(new LearnedCard(record.key(), "en", "cn", "", "the example", "tag", 20.0,
                                                          false, &record, std::nullopt, std::nullopt,
                                                          std::nullopt));
        const ShareCardContent content =
            ShareCardContent::build(ShareSheetController::inputFor(*card, nullptr, std::nullopt));
        QVERIFY(content.heroIsFallback);
        QCOMPARE(content.heroLine, QStringLiteral("the example"));
        QVERIFY(!content.note); // an empty stored note is no note
    }
};

QTEST_MAIN(TstShareSheet)
#include "tst_sharesheet.moc"
