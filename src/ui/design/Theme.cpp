#include "ui/design/Theme.h"

#include <QGuiApplication>
#include <QQmlEngine>

QString Theme::sansFamily()
{
    return QGuiApplication::font().family();
}

QFont Theme::font(int pixelSize, QFont::Weight weight, bool monospaced)
{
    QFont f = QGuiApplication::font();
    if (monospaced) {
        f.setFamilies({monoFamily()});
        f.setStyleHint(QFont::Monospace);
    }
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

Theme *Theme::create(QQmlEngine *, QJSEngine *)
{
    // Stateless: each engine gets (and owns) its own.
    return new Theme;
}
