#pragma once

#include "ItemSearch.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTest>

#include <memory>

// Shared set-up of the QML tests: the application's style and font, an engine that finds the
// screen modules in the resources, and a window to show a component in.
namespace designtest {

inline void configureApplication()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QGuiApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC")));
}

// Every warning fails the test, except the known noise of a headless run.
inline void failOnAnyWarning()
{
    QTest::failOnWarning(QRegularExpression(
        QStringLiteral("^(?!.*(failed to acquire GL context|QStandardPaths: wrong permissions)).*$"),
        QRegularExpression::DotMatchesEverythingOption));
}

inline std::unique_ptr<QQmlEngine> makeEngine()
{
    auto engine = std::make_unique<QQmlEngine>();
    engine->addImportPath(QStringLiteral("qrc:/"));
    return engine;
}

// A window holding one instance of the QML text (which imports what it needs).
struct Scene
{
    std::unique_ptr<QQmlEngine> engine = makeEngine();
    std::unique_ptr<QQuickWindow> window = std::make_unique<QQuickWindow>();
    QQuickItem *root = nullptr;

    bool load(const QByteArray &qml, QSize size = {400, 300}, const QVariantMap &initialProperties = {})
    {
        QQmlComponent component(engine.get());
        component.setData(qml, QUrl(QStringLiteral("qrc:/test/Scene.qml")));
        // Created inside the window's content item, as a view in the application is.
        QObject *object = component.beginCreate(engine->rootContext());
        if (!object) {
            qWarning().noquote() << component.errorString();
            return false;
        }
        root = qobject_cast<QQuickItem *>(object);
        if (!root) {
            delete object;
            return false;
        }
        if (!initialProperties.isEmpty())
            component.setInitialProperties(object, initialProperties);
        window->resize(size);
        root->setParentItem(window->contentItem());
        root->setSize(size);
        component.completeCreate();
        window->setColor(QColor(6, 3, 15));
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }

    template <typename T = QQuickItem>
    T *find(const QString &objectName) const
    {
        if (root && root->objectName() == objectName)
            return qobject_cast<T *>(root);
        return root ? root->findChild<T *>(objectName) : nullptr;
    }

    ~Scene()
    {
        delete root;
    }
};

} // namespace designtest
