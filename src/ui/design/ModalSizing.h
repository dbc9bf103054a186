#pragma once

#include <QObject>
#include <QSizeF>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

struct ModalSize
{
    double width = 0;
    double height = 0;
    bool operator==(const ModalSize &) const = default;
};

// The size of an overlay shown in a container: a readable column on wide windows, nearly the
// whole width on narrow ones, never wider than 720, never below 384 × 240 (560 wide from 900 up),
// even when that is larger than the container.
class ModalSizing : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    static ModalSize size(QSizeF container);
    Q_INVOKABLE QSizeF sizeIn(qreal width, qreal height) const
    {
        const ModalSize s = size({width, height});
        return {s.width, s.height};
    }

    static ModalSizing *create(QQmlEngine *, QJSEngine *) { return new ModalSizing; }
};
