#include "ChangeTrace.h"

#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QMetaProperty>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

using Values = QHash<QByteArray, QString>;

// A comparable text of what an item shows: every readable property of a plain type (geometry,
// opacity, numbers, text, colours, fonts, enums). Objects, lists and focus are left out.
Values snapshot(QQuickItem *item)
{
    static const QList<QByteArray> skipped = {"objectName", "focus", "activeFocus", "activeFocusOnTab", "state"};
    Values values;
    const QMetaObject *meta = item->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (!property.isReadable() || skipped.contains(property.name()))
            continue;
        const QVariant value = property.read(item);
        switch (property.metaType().id()) {
        case QMetaType::QColor:
            values.insert(property.name(), value.value<QColor>().name(QColor::HexArgb));
            break;
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::QString:
        case QMetaType::QUrl:
        case QMetaType::QFont:
            values.insert(property.name(), value.toString());
            break;
        default:
            if (property.isEnumType())
                values.insert(property.name(), QString::number(value.toInt()));
            break;
        }
    }
    return values;
}

// The item's class (without QML's suffix) and objectName, with its ancestors up to a few levels
// above the nearest named one.
QString path(QQuickItem *item)
{
    QStringList parts;
    for (QQuickItem *i = item; i; i = i->parentItem()) {
        QString part = QString::fromLatin1(i->metaObject()->className()).section(QLatin1String("_QML"), 0, 0);
        if (!i->objectName().isEmpty())
            part += QLatin1Char('#') + i->objectName();
        parts.prepend(part);
        if (!i->objectName().isEmpty() && parts.size() > 3)
            break;
    }
    return parts.join(QLatin1Char('/'));
}

void collectVisible(QQuickItem *item, QList<QQuickItem *> &out)
{
    if (!item->isVisible())
        return;
    out.append(item);
    for (QQuickItem *child : item->childItems())
        collectVisible(child, out);
}

bool matches(QQuickItem *item, const QString &name)
{
    if (name.startsWith(QLatin1String("cls:")))
        return QString::fromLatin1(item->metaObject()->className()).section(QLatin1String("_QML"), 0, 0) == name.mid(4);
    return item->objectName() == name;
}

void hideMatching(QQuickItem *root, const QStringList &names)
{
    // Collected first: turning a layer off deletes the item that draws it, a sibling of its item.
    QList<QQuickItem *> items;
    collectVisible(root, items);
    QList<QPointer<QQuickItem>> hidden;
    QList<QPointer<QQuickItem>> unlayered;
    for (QQuickItem *item : std::as_const(items)) {
        for (const QString &name : names) {
            if (name.startsWith(QLatin1String("nolayer:")) ? matches(item, name.mid(8)) : matches(item, name))
                (name.startsWith(QLatin1String("nolayer:")) ? unlayered : hidden).append(item);
        }
    }
    for (const QPointer<QQuickItem> &item : std::as_const(unlayered)) {
        QObject *layer = item ? qvariant_cast<QObject *>(item->property("layer")) : nullptr;
        if (layer && layer->property("enabled").toBool()) {
            layer->setProperty("enabled", false);
            std::fprintf(stdout, "unlayered %s\n", qPrintable(path(item)));
        }
    }
    for (const QPointer<QQuickItem> &item : std::as_const(hidden)) {
        if (item && item->isVisible()) {
            std::fprintf(stdout, "hidden %s\n", qPrintable(path(item)));
            item->setVisible(false);
        }
    }
    std::fflush(stdout);
}

} // namespace

void ChangeTrace::install(QQuickWindow *window)
{
    struct State
    {
        QHash<QQuickItem *, Values> previous;
        long long frame = 0;
        QElapsedTimer clock;
    };
    auto state = std::make_shared<State>();
    state->clock.start();
    // Just before each frame's synchronisation, on the thread that changes the items.
    QObject::connect(window, &QQuickWindow::beforeSynchronizing, window, [window, state] {
        QList<QQuickItem *> items;
        collectVisible(window->contentItem(), items);
        QHash<QQuickItem *, Values> current;
        const long long frame = ++state->frame;
        const qint64 ms = state->clock.elapsed();
        int changes = 0;
        for (QQuickItem *item : std::as_const(items)) {
            Values values = snapshot(item);
            const auto before = state->previous.constFind(item);
            if (before == state->previous.cend()) {
                if (!state->previous.isEmpty()) {
                    std::fprintf(stdout, "trace %lld %lld shown %s\n", frame, ms, qPrintable(path(item)));
                    ++changes;
                }
            } else {
                for (auto it = values.cbegin(); it != values.cend(); ++it) {
                    const QString old = before->value(it.key());
                    if (old == it.value())
                        continue;
                    std::fprintf(stdout, "trace %lld %lld %s .%s %s -> %s\n", frame, ms, qPrintable(path(item)),
                                 it.key().constData(), qPrintable(old.left(40)), qPrintable(it.value().left(40)));
                    ++changes;
                }
            }
            current.insert(item, std::move(values));
        }
        if (changes == 0)
            std::fprintf(stdout, "trace %lld %lld nothing changed\n", frame, ms);
        std::fflush(stdout);
        state->previous = std::move(current);
    }, Qt::DirectConnection);
}

void ChangeTrace::hide(QQuickWindow *window, const QStringList &names)
{
    // Items come and go with the views (a song's rows, a tab): looked for again twice a second.
    auto *timer = new QTimer(window);
    QObject::connect(timer, &QTimer::timeout, window, [window, names] { hideMatching(window->contentItem(), names); });
    timer->start(500);
}
