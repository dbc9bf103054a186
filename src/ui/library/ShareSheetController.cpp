#include "ui/library/ShareSheetController.h"

#include "core/LrcParser.h"
#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"
#include "platform/Text.h"
#include "session/ToastCenter.h"
#include "session/player/PlayerViewModel.h"
#include "ui/library/ShareCardText.h"

#include <QFileInfo>

#include <cmath>

ShareSheetController::ShareSheetController(QObject *parent)
    : QObject(parent)
    , m_renderer(std::make_unique<PainterShareCardRenderer>())
    , m_clipboard(std::make_unique<SystemShareClipboard>())
    , m_picker(std::make_unique<FileDialogSavePicker>())
{
}

ShareSheetController::~ShareSheetController() = default;

void ShareSheetController::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    m_vm = vm;
    emit vmChanged();
}

void ShareSheetController::setToastCenter(ToastCenter *center)
{
    if (m_toastCenter == center)
        return;
    m_toastCenter = center;
    emit toastCenterChanged();
}

void ShareSheetController::setServices(std::unique_ptr<ShareCardRenderer> renderer,
                                       std::unique_ptr<ShareClipboard> clipboard,
                                       std::unique_ptr<ShareSavePicker> picker)
{
    if (renderer)
        m_renderer = std::move(renderer);
    if (clipboard)
        m_clipboard = std::move(clipboard);
    if (picker)
        m_picker = std::move(picker);
}

QString ShareSheetController::suggestedFileName() const
{
    return m_content ? ShareCardText::suggestedFileName(*m_content) : QString();
}

void ShareSheetController::present(const ShareCardContent &content)
{
    m_content = content;
    m_preview = m_renderer->render(content);
    emit contentChanged();
}

void ShareSheetController::present(LearnedCard *card, const QVariant &slotLineTimestamp)
{
    if (!card)
        return;
    std::optional<double> slotTime;
    bool ok = false;
    const double value = slotLineTimestamp.toDouble(&ok);
    if (slotLineTimestamp.isValid() && ok && std::isfinite(value))
        slotTime = value;
    present(ShareCardContent::build(inputFor(*card, m_vm, slotTime)));
}

void ShareSheetController::dismiss()
{
    if (!m_content)
        return;
    m_content.reset();
    m_preview = {};
    emit contentChanged();
}

ShareCardContent::Input ShareSheetController::inputFor(LearnedCard &card, const PlayerViewModel *vm,
                                                       std::optional<double> slotLineTimestamp)
{
    ShareCardContent::Input input;
    input.phrase = card.en();
    input.translation = card.cn();
    input.note = card.note();
    input.example = card.example();
    input.tag = card.tag();
    input.pronunciationHint = card.pronunciationHint();
    input.culturalHint = card.culturalHint();
    input.lineTimestamp = slotLineTimestamp ? slotLineTimestamp : card.lineTimestamp();
    input.tolerance = ShareCardContent::defaultTolerance;

    const std::optional<NowPlayingTrack> track = vm ? vm->track() : std::nullopt;
    SongRecord *record = card.songForQml();
    if (record) {
        input.songTitle = record->title();
        input.songArtist = record->artist();
        if (track && Text::canonicallyEqual(track->songKey(), record->key()))
            input.lines = vm->lyricLines();
        else
            input.lines = LRCParser::parse(record->lyrics());
    } else if (track) {
        input.songTitle = track->title;
        input.songArtist = track->artist;
        input.lines = vm->lyricLines();
    }
    return input;
}

void ShareSheetController::toast(const QString &text)
{
    if (m_toastCenter)
        m_toastCenter->show(text, toastDuration);
}

QImage ShareSheetController::renderOrToast()
{
    if (!m_content)
        return {};
    QImage image = m_renderer->render(*m_content);
    if (image.isNull())
        toast(QStringLiteral("生成图片失败"));
    return image;
}

void ShareSheetController::copyImage()
{
    const QImage image = renderOrToast();
    if (image.isNull())
        return;
    toast(m_clipboard->writeImage(image) ? QStringLiteral("已复制到剪贴板") : QStringLiteral("复制失败"));
}

void ShareSheetController::shareImage()
{
    // No sharing picker on this desktop: the picture goes to the clipboard, and the toast tells
    // whether it got there.
    copyImage();
}

void ShareSheetController::saveImage()
{
    const QImage image = renderOrToast();
    if (image.isNull())
        return;
    const QByteArray png = ShareExport::encodePng(image);
    if (png.isEmpty()) {
        toast(QStringLiteral("生成 PNG 失败"));
        return;
    }
    // The dialog answers later; the write happens then, if this sheet is still there.
    QPointer<ShareSheetController> self(this);
    m_picker->pickPath(QStringLiteral("保存歌词卡片"), suggestedFileName(),
                       [self, png](std::optional<QString> path) {
                           if (self && path && !path->isEmpty())
                               self->writePng(*path, png);
                       });
}

void ShareSheetController::writePng(const QString &path, const QByteArray &png)
{
    if (const std::optional<QString> error = ShareExport::writeFile(path, png))
        toast(QStringLiteral("保存失败：") + *error);
    else
        toast(QStringLiteral("已保存到 ") + QFileInfo(path).fileName());
}
