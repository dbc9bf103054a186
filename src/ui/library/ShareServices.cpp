#include "ui/library/ShareServices.h"

#include "ui/library/ShareCardPainter.h"

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
