#pragma once

#include "core/ShareCardContent.h"
#include "core/store/LearnedCard.h"
#include "session/ToastCenter.h"
#include "session/player/PlayerViewModel.h"
#include "ui/library/ShareServices.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <memory>
#include <optional>


// The window's one share sheet: present() opens it for a card, the three actions copy, save and
// share the card picture, and every outcome ends in one toast (1.5 s). The sheet never closes
// itself after an action. There is no sharing picker on Linux: "分享…" copies the picture.
class ShareSheetController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY vmChanged)
    Q_PROPERTY(ToastCenter *toastCenter READ toastCenter WRITE setToastCenter NOTIFY toastCenterChanged)
    Q_PROPERTY(bool isOpen READ isOpen NOTIFY contentChanged)
    Q_PROPERTY(bool heroIsFallback READ heroIsFallback NOTIFY contentChanged)
    Q_PROPERTY(QString suggestedFileName READ suggestedFileName NOTIFY contentChanged)
    // The picture the preview shows (the export's own rendering, so the two cannot drift).
    Q_PROPERTY(QImage previewImage READ previewImage NOTIFY contentChanged)

public:
    static constexpr double toastDuration = 1.5;

    explicit ShareSheetController(QObject *parent = nullptr);
    ~ShareSheetController() override;

    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);
    ToastCenter *toastCenter() const { return m_toastCenter; }
    void setToastCenter(ToastCenter *center);

    // Tests replace the desktop with fakes; null keeps the current one.
    void setServices(std::unique_ptr<ShareCardRenderer> renderer, std::unique_ptr<ShareClipboard> clipboard,
                     std::unique_ptr<ShareSavePicker> picker);

    bool isOpen() const { return m_content.has_value(); }
    bool heroIsFallback() const { return m_content && m_content->heroIsFallback; }
    QString suggestedFileName() const;
    QImage previewImage() const { return m_preview; }
    const std::optional<ShareCardContent> &content() const { return m_content; }

    // Opens the sheet for the content (a new content replaces the shown one).
    void present(const ShareCardContent &content);
    // Opens the sheet for a stored card. `slotLineTimestamp` (a number, or undefined) is the time
    // of the card's row in the list; without it the card's own time counts.
    Q_INVOKABLE void present(LearnedCard *card, const QVariant &slotLineTimestamp = {});
    Q_INVOKABLE void dismiss();

    Q_INVOKABLE void copyImage();
    Q_INVOKABLE void saveImage();
    Q_INVOKABLE void shareImage();

    // What a card hands to the content: the card's texts; the time of its row, else its own; the
    // lyrics and the song of the card's record. The playing song's lines are used only when the
    // record is the playing song; another (locked) song's own stored lyrics are parsed, so its
    // hero never comes from the lyrics of the song that happens to be playing.
    static ShareCardContent::Input inputFor(LearnedCard &card, const PlayerViewModel *vm,
                                            std::optional<double> slotLineTimestamp);

signals:
    void vmChanged();
    void toastCenterChanged();
    void contentChanged();

private:
    QImage renderOrToast();
    void writePng(const QString &path, const QByteArray &png);
    void toast(const QString &text);

    QPointer<PlayerViewModel> m_vm;
    QPointer<ToastCenter> m_toastCenter;
    std::unique_ptr<ShareCardRenderer> m_renderer;
    std::unique_ptr<ShareClipboard> m_clipboard;
    std::unique_ptr<ShareSavePicker> m_picker;
    std::optional<ShareCardContent> m_content;
    QImage m_preview;
};
