#pragma once

#include "core/ShareCardContent.h"

#include <QByteArray>
#include <QImage>
#include <QPalette>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QFileDialog;

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
    using Chosen = std::function<void(std::optional<QString> path)>;
    virtual ~ShareSavePicker() = default;
    // Asks for a path without blocking the caller (no nested event loop): `chosen` runs once, later
    // or before this returns, with the path, or with none when the user cancelled. The dialog
    // confirms overwriting itself.
    virtual void pickPath(const QString &title, const QString &suggestedName, Chosen chosen) = 0;
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

// QFileDialog, modal over the whole application and opened with open(): PNG filter, default
// suffix "png". Needs a QApplication. While one dialog is open a second request brings it forward
// and ends without a path.
class FileDialogSavePicker : public ShareSavePicker
{
public:
    ~FileDialogSavePicker() override;
    void pickPath(const QString &title, const QString &suggestedName, Chosen chosen) override;

    // The windows' dark scheme, for the dialog Qt draws itself when the desktop has none of its
    // own (a desktop's dialog ignores it).
    static QPalette darkPalette();

private:
    QPointer<QFileDialog> m_dialog;
};

namespace ShareExport {
// PNG bytes of the image; empty when encoding failed.
QByteArray encodePng(const QImage &image);
// Writes the bytes through a temporary file renamed over the target, so a failed write leaves an
// existing file as it was. Returns the error text, or none on success.
std::optional<QString> writeFile(const QString &path, const QByteArray &bytes);
} // namespace ShareExport
