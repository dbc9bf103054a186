#include "ui/library/ShareServices.h"

#include "ui/library/ShareCardPainter.h"
#include "ui/design/Theme.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImageWriter>
#include <QMimeData>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QWindow>

PainterShareCardRenderer::PainterShareCardRenderer(std::function<double()> screenRatio)
    : m_screenRatio(std::move(screenRatio))
{
    if (!m_screenRatio) {
        m_screenRatio = [] {
            const QScreen *screen = QGuiApplication::primaryScreen();
            return screen ? screen->devicePixelRatio() : 1.0;
        };
    }
}

QImage PainterShareCardRenderer::render(const ShareCardContent &content)
{
    return ShareCardPainter::render(content, ShareCardPainter::exportScale(m_screenRatio()));
}

bool SystemShareClipboard::writeImage(const QImage &image)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard || image.isNull())
        return false;
    clipboard->clear();
    clipboard->setImage(image);
    const QMimeData *data = clipboard->mimeData();
    return data && data->hasImage();
}

FileDialogSavePicker::~FileDialogSavePicker()
{
    // Whoever asked is going away: its answer has nowhere to go.
    delete m_dialog.data();
}

void FileDialogSavePicker::pickPath(const QString &title, const QString &suggestedName, Chosen chosen)
{
    // The widgets dialog needs a QApplication; without one there is nothing to ask with.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        chosen(std::nullopt);
        return;
    }
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        chosen(std::nullopt);
        return;
    }
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    auto *dialog = new QFileDialog(nullptr, title, folder, QStringLiteral("PNG (*.png)"));
    m_dialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QStringLiteral("png"));
    dialog->selectFile(suggestedName);
    dialog->setPalette(darkPalette());
    // Modal like the original panel, but without exec(): the window keeps running its own loop.
    // The dialog stands over the window that asked (a QQuickWindow cannot be a widget's parent).
    dialog->setWindowModality(Qt::ApplicationModal);
    if (QWindow *owner = QGuiApplication::focusWindow()) {
        dialog->winId();
        dialog->windowHandle()->setTransientParent(owner);
    }
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, chosen = std::move(chosen)](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty())
            chosen(files.constFirst());
        else
            chosen(std::nullopt);
    });
    dialog->open();
}

QPalette FileDialogSavePicker::darkPalette()
{
    // Opaque colours only: the widgets draw no translucency over the ink.
    const QColor ink = Theme::backgroundInk();
    const QColor raised(30, 26, 46);  // fields, buttons and lists, a step above the ink
    const QColor line(84, 78, 104);   // frames and separators
    const QColor text = Theme::textPrimary();
    const QColor faint(140, 136, 152); // disabled and placeholder text
    QPalette p;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        p.setColor(group, QPalette::Window, ink);
        p.setColor(group, QPalette::Base, raised);
        p.setColor(group, QPalette::AlternateBase, QColor(38, 33, 56));
        p.setColor(group, QPalette::Button, raised);
        p.setColor(group, QPalette::WindowText, disabled ? faint : text);
        p.setColor(group, QPalette::Text, disabled ? faint : text);
        p.setColor(group, QPalette::ButtonText, disabled ? faint : text);
        p.setColor(group, QPalette::BrightText, text);
        p.setColor(group, QPalette::PlaceholderText, faint);
        p.setColor(group, QPalette::ToolTipBase, ink);
        p.setColor(group, QPalette::ToolTipText, text);
        p.setColor(group, QPalette::Highlight, disabled ? line : QColor(0, 120, 140));
        p.setColor(group, QPalette::HighlightedText, text);
        p.setColor(group, QPalette::Link, Theme::neonCyan());
        p.setColor(group, QPalette::LinkVisited, Theme::neonViolet());
        p.setColor(group, QPalette::Light, QColor(60, 54, 80));
        p.setColor(group, QPalette::Midlight, QColor(46, 41, 64));
        p.setColor(group, QPalette::Mid, line);
        p.setColor(group, QPalette::Dark, QColor(16, 12, 26));
        p.setColor(group, QPalette::Shadow, Qt::black);
    }
    return p;
}

namespace ShareExport {

QByteArray encodePng(const QImage &image)
{
    if (image.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return {};
    return bytes;
}

std::optional<QString> writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    // Never fall back to writing in place: that is what destroys the file on failure.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace ShareExport
