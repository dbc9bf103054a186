#pragma once

#include "core/ShareCardContent.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>
#include <optional>

// What the share sheet needs from the desktop, each behind an interface so tests use fakes.

// Draws the card picture for export.
class ShareCardRenderer
{
public:
    virtual ~ShareCardRenderer() = default;
    // A null image when rendering failed.
    virtual QImage render(const ShareCardContent &content) = 0;
};

// The system clipboard.
class ShareClipboard
{
public:
    virtual ~ShareClipboard() = default;
    // Replaces the clipboard's content with the image; true when the clipboard then holds an image.
    virtual bool writeImage(const QImage &image) = 0;
};

// The save dialog.
class ShareSavePicker
{
public:
    virtual ~ShareSavePicker() = default;
    // The chosen path, or none when the user cancelled. The dialog confirms overwriting itself.
    virtual std::optional<QString> pickPath(const QString &title, const QString &suggestedName) = 0;
};

// The card painter at the export scale: the screen's ratio, at least 2 (so at least 1200 px).
class PainterShareCardRenderer : public ShareCardRenderer
{
public:
    // `screenRatio` gives the primary screen's device pixel ratio; by default the real one
    // (1 without a screen).
    explicit PainterShareCardRenderer(std::function<double()> screenRatio = {});
    QImage render(const ShareCardContent &content) override;

private:
    std::function<double()> m_screenRatio;
};

// QGuiApplication::clipboard().
class SystemShareClipboard : public ShareClipboard
{
public:
    bool writeImage(const QImage &image) override;
};

// QFileDialog: PNG filter, default suffix "png". Needs a QApplication.
class FileDialogSavePicker : public ShareSavePicker
{
public:
    std::optional<QString> pickPath(const QString &title, const QString &suggestedName) override;
};

namespace ShareExport {
// PNG bytes of the image; empty when encoding failed.
QByteArray encodePng(const QImage &image);
// Writes the bytes through a temporary file renamed over the target, so a failed write leaves an
// existing file as it was. Returns the error text, or none on success.
std::optional<QString> writeFile(const QString &path, const QByteArray &bytes);
} // namespace ShareExport
