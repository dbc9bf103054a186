// The accessibility tree of the real main window, walked in-process the way a screen reader walks
// it over AT-SPI: on the sign-in view, on the player with the demo song, on each library tab and
// on each state the lyrics and the cards can be in (loading, empty, failed), every control has a
// name and a role (the password field too), and every text on screen can be read from the tree;
// the playing line and the lit card say so.

#include "ShellFixture.h"

#include "app/ApplicationShell.h"
#include "core/store/CardStore.h"
#include "session/player/PlayerViewModel.h"

#include <QAccessible>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QTextDocumentFragment>

namespace {

struct Node
{
    QAccessible::Role role;
    QString name;
    QString description;
    QString value;
    bool invisible;
    bool named;
    QString objectName;
};

// Roles a user acts on: each needs a name of its own.
bool isInteractive(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::Button: case QAccessible::CheckBox: case QAccessible::RadioButton:
    case QAccessible::PageTab: case QAccessible::Slider: case QAccessible::EditableText:
    case QAccessible::ComboBox: case QAccessible::SpinBox: case QAccessible::Link:
    case QAccessible::ButtonMenu: case QAccessible::ButtonDropDown: case QAccessible::MenuItem:
        return true;
    default:
        return false;
    }
}

// Whether an element a user acts on can be told apart: it has a name (a password field too).
bool named(QAccessibleInterface *iface)
{
    return !iface->text(QAccessible::Name).isEmpty();
}

// Whether the item is left out of the tree on purpose (`Accessible.ignored`: a decoration).
bool ignoredByTree(const QQuickItem *item)
{
    const QObjectList children = item->children();
    return std::any_of(children.cbegin(), children.cend(), [](const QObject *child) {
        return child->inherits("QQuickAccessibleAttached") && child->property("ignored").toBool();
    });
}

void collect(QAccessibleInterface *iface, QList<Node> &nodes, int depth = 0)
{
    if (!iface || !iface->isValid() || depth > 200)
        return;
    nodes.append({iface->role(), iface->text(QAccessible::Name).simplified(),
                  iface->text(QAccessible::Description).simplified(), iface->text(QAccessible::Value).simplified(),
                  bool(iface->state().invisible), named(iface),
                  iface->object() ? iface->object()->objectName() : QString()});
    for (int i = 0; i < iface->childCount(); ++i)
        collect(iface->child(i), nodes, depth + 1);
}

QList<Node> accessibilityTree(QQuickWindow *window)
{
    QList<Node> nodes;
    collect(QAccessible::queryAccessibleInterface(window), nodes);
    return nodes;
}

// The text an item shows, as a person reads it.
QString shownText(const QQuickItem *item)
{
    const QString text = item->property("text").toString();
    const int format = item->property("textFormat").toInt();
    const bool rich = format == 1 /* RichText */ || format == 4 /* MarkdownText */ || format == 2 /* StyledText */
                      || (format == 3 /* AutoText */ && Qt::mightBeRichText(text));
    return (rich ? QTextDocumentFragment::fromHtml(text).toPlainText() : text).simplified();
}

// Roles read as one piece: a screen reader speaks their name, not the texts drawn inside them
// (a button's label, a badge's short text).
bool speaksForItsContent(QQuickItem *item)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(item);
    if (!iface || iface->text(QAccessible::Name).isEmpty())
        return false;
    switch (iface->role()) {
    case QAccessible::Button: case QAccessible::CheckBox: case QAccessible::RadioButton:
    case QAccessible::PageTab: case QAccessible::Slider: case QAccessible::StaticText:
    case QAccessible::Heading: case QAccessible::ListItem: case QAccessible::Link:
    case QAccessible::AlertMessage: case QAccessible::EditableText:
        return true;
    default:
        return false;
    }
}

// Items a user acts on, whether or not they announced themselves to the tree (a Control joins
// it only once a screen reader is running).
bool isControlItem(const QQuickItem *item)
{
    if (item->inherits("QQuickTextEdit"))
        return !item->property("readOnly").toBool();
    return item->inherits("QQuickAbstractButton") || item->inherits("QQuickSlider")
           || item->inherits("QQuickTextInput") || item->inherits("QQuickComboBox") || item->inherits("QQuickSpinBox");
}

// Walks what a person sees: items that are visible, not transparent and not clipped away (a
// list's rows outside its viewport are not on screen). Collects the texts to read, except inside
// an element whose name is what is read, and the controls without a name.
void scan(QQuickItem *item, QRectF clip, QStringList &texts, QStringList &unnamed)
{
    if (!item->isVisible() || item->opacity() < 0.01)
        return;
    const QRectF onScreen = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    if (item->clip())
        clip = clip.intersected(onScreen);
    if (clip.isEmpty())
        return;
    if (isControlItem(item) && !named(QAccessible::queryAccessibleInterface(item)))
        unnamed << item->objectName() + u' ' + QString::fromLatin1(item->metaObject()->className());
    if (speaksForItsContent(item))
        return;
    const bool isText = item->inherits("QQuickText") || (item->inherits("QQuickTextEdit") && !isControlItem(item));
    if (isText && onScreen.intersects(clip) && !ignoredByTree(item)) {
        const QString text = shownText(item);
        if (!text.isEmpty())
            texts.append(text);
    }
    for (QQuickItem *child : item->childItems())
        scan(child, clip, texts, unnamed);
}

bool readable(const QList<Node> &nodes, const QString &text)
{
    return std::any_of(nodes.cbegin(), nodes.cend(), [&](const Node &n) {
        return !n.invisible && (n.name.contains(text) || n.description.contains(text) || n.value.contains(text));
    });
}

// Every fault of the window's current screen, one line each. A hidden control still in the tree
// needs its name too: screen readers list what the tree holds.
QStringList faults(QQuickWindow *window)
{
    const QList<Node> nodes = accessibilityTree(window);
    QStringList found;
    for (const Node &n : nodes) {
        if (isInteractive(n.role) && !n.named)
            found << QStringLiteral("unnamed control \"%1\", role %2").arg(n.objectName).arg(int(n.role));
    }
    QStringList texts;
    QStringList unnamed;
    scan(window->contentItem(), QRectF(QPointF(0, 0), window->size()), texts, unnamed);
    for (const QString &control : std::as_const(unnamed))
        found << QStringLiteral("unnamed control \"%1\"").arg(control);
    for (const QString &text : std::as_const(texts)) {
        if (!readable(nodes, text))
            found << QStringLiteral("text not in the tree: \"%1\"").arg(text);
    }
    found.removeDuplicates();
    return found;
}

int countRole(const QList<Node> &nodes, QAccessible::Role role)
{
    return int(std::count_if(nodes.cbegin(), nodes.cend(), [&](const Node &n) { return n.role == role; }));
}

QString shownView(ApplicationShell &shell)
{
    auto *loader = shell.mainWindow()->findChild<QQuickItem *>(QStringLiteral("rootView"));
    QQuickItem *item = loader ? loader->property("item").value<QQuickItem *>() : nullptr;
    return item ? item->objectName() : QString();
}

} // namespace

class TestAccessibilityTree : public QObject
{
    Q_OBJECT

private slots:
    // As an assistive technology does, before any window exists.
    void initTestCase() { QAccessible::setActive(true); }

    void signIn()
    {
        ShellFixture fx;
        fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = shell.mainWindow();
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));

        const QStringList found = faults(window);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
        const QList<Node> nodes = accessibilityTree(window);
        QCOMPARE(countRole(nodes, QAccessible::EditableText), 2); // e-mail and password
        const auto password = std::find_if(nodes.cbegin(), nodes.cend(), [](const Node &n) {
            return n.objectName == QStringLiteral("signIn.password");
        });
        QVERIFY(password != nodes.cend());
        QCOMPARE(password->name, QStringLiteral("密码"));
    }

    // An error that appears where the user acts is announced: the focus moves to an alert
    // holding the error's text (the focus event a screen reader speaks), and stays in the view:
    // Tab goes on to the control that acts on it. One row per way an error appears.
    void errorsAnnounced_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("next");
        QTest::newRow("sign-in refused") << QStringLiteral("signIn") << QStringLiteral("signIn.submit");
        QTest::newRow("sign-up refused") << QStringLiteral("signUp") << QStringLiteral("signIn.submit");
    }
    void errorsAnnounced()
    {
        QFETCH(QString, mode);
        QFETCH(QString, next);
        ShellFixture fx;
        fx.startAuth();
        // The server refuses the program's key: every sign-in and sign-up answers 401.
        fx.server.auth().setAnonKey(QStringLiteral("another program's key"));
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = shell.mainWindow();
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));
        QQuickItem *view = window->findChild<QQuickItem *>(QStringLiteral("signInView"));
        QObject *vm = view->property("viewModel").value<QObject *>();
        if (mode == u"signUp")
            QVERIFY(QMetaObject::invokeMethod(vm, "switchMode"));
        vm->setProperty("email", QStringLiteral("a@example.com"));
        vm->setProperty("password", QStringLiteral("secret1"));
        QTRY_VERIFY(window->activeFocusItem() && window->activeFocusItem()->objectName() == u"signIn.email");
        QVERIFY(QMetaObject::invokeMethod(vm, "submit"));

        QQuickItem *banner = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((banner = visibleItem(window->contentItem(), QStringLiteral("signIn.errorBanner.text"))), 10000);
        const QString message = vm->property("errorMessage").toString();
        QVERIFY(!message.isEmpty());
        QTRY_COMPARE(window->activeFocusItem(), banner);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(banner);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::AlertMessage);
        QCOMPARE(iface->text(QAccessible::Name), message);
        QVERIFY(iface->state().focused);
        QCOMPARE(banner->nextItemInFocusChain(true)->objectName(), next);
        const QStringList found = faults(window);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
    }

    void playerAndLibrary()
    {
        DemoSongShell demo;
        QQuickWindow *window = demo.window;
        QVERIFY(window);
        PlayerViewModel *vm = demo.vm();
        QTRY_VERIFY_WITH_TIMEOUT(!vm->cards().isEmpty() && !vm->lyricLines().isEmpty(), 10000);
        QQuickItem *panel = window->findChild<QQuickItem *>(QStringLiteral("studyPanel"));
        QVERIFY(panel);
        QObject *tabs = panel->property("controller").value<QObject *>();
        QVERIFY(tabs);
        QTRY_VERIFY(window->findChild<QQuickItem *>(QStringLiteral("now.list")));
        QTest::qWait(600); // the cross-fades and the first scroll

        // The player: the playing line is marked, the tabs are page tabs.
        QStringList found = faults(window);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
        const QList<Node> nodes = accessibilityTree(window);
        QCOMPARE(countRole(nodes, QAccessible::PageTab), 4);
        QCOMPARE(countRole(nodes, QAccessible::CheckBox), 0);
        const qsizetype playing = std::count_if(nodes.cbegin(), nodes.cend(), [](const Node &n) {
            return n.role == QAccessible::ListItem && n.description == QStringLiteral("正在播放");
        });
        QCOMPARE(playing, 1);
        // The lit card says so too.
        QCOMPARE(std::count_if(nodes.cbegin(), nodes.cend(), [](const Node &n) {
                     return n.role == QAccessible::Grouping && n.description == QStringLiteral("正在播放");
                 }), 1);

        // A card mastered and kept, so that the library's tabs show it.
        CardStore *store = demo.shell.appState()->cardStore();
        SongRecord *song = store->record(QStringLiteral("traditional|amazing grace"));
        QVERIFY(song && !song->cards().isEmpty());
        store->markMastered(song->cards().constFirst());
        store->toggleFavorite(song->cards().constFirst());

        const QStringList names{QStringLiteral("history"), QStringLiteral("favorites"), QStringLiteral("mastered")};
        for (int tab = 1; tab <= 3; ++tab) {
            tabs->setProperty("selectedTab", tab);
            QTRY_COMPARE(panel->property("currentTab").value<QQuickItem *>()->objectName(),
                         QStringLiteral("studyPanel.") + names.at(tab - 1));
            QTest::qWait(500); // the tab's slide
            found = faults(window);
            QVERIFY2(found.isEmpty(), qPrintable(names.at(tab - 1) + u'\n' + found.join(u'\n')));
        }
        QQuickItem *summary = visibleItem(window->contentItem(), QStringLiteral("mastered.summary"));
        QVERIFY(summary);
        QVERIFY2(summary->property("text").toString().startsWith(QStringLiteral("已掌握 1 ")),
                 qPrintable(summary->property("text").toString()));
    }

    // Each dialog over the player is named by its title, and every text it shows is in the
    // tree: the account popover with a command's result, the share sheet, the story.
    void dialogs_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("name");
        QTest::newRow("account popover with a result") << QStringLiteral("userInfoPopover") << QStringLiteral("账户信息");
        QTest::newRow("share sheet") << QStringLiteral("shareSheet") << QStringLiteral("分享歌词卡片");
        QTest::newRow("story") << QStringLiteral("storyOverlay") << QStringLiteral("Amazing Grace");
    }
    void dialogs()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, name);
        DemoSongShell demo;
        QQuickWindow *window = demo.window;
        QVERIFY(window);
        PlayerViewModel *vm = demo.vm();
        QTRY_VERIFY_WITH_TIMEOUT(!vm->cards().isEmpty() && vm->currentStory().has_value(), 10000);
        QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("glassCard.share")));
        QObject *popup = window->findChild<QObject *>(dialog);
        QVERIFY(popup);
        if (dialog == u"userInfoPopover") {
            QVERIFY(QMetaObject::invokeMethod(popup, "open"));
            // The backup fails (the stand-in has no backup route): a result line to read.
            QQuickItem *backup = visibleItem(window->contentItem(), QStringLiteral("userInfo.backup"));
            QTRY_VERIFY(backup);
            QVERIFY(QMetaObject::invokeMethod(backup, "clicked"));
            QTRY_VERIFY_WITH_TIMEOUT(visibleItem(window->contentItem(), QStringLiteral("userInfo.status"))
                                             && backup->isEnabled(), 10000);
        } else if (dialog == u"shareSheet") {
            QVERIFY(QMetaObject::invokeMethod(visibleItem(window->contentItem(), QStringLiteral("glassCard.share")), "clicked"));
        } else {
            vm->setIsStoryModalOpen(true);
        }
        QTRY_VERIFY(popup->property("opened").toBool());
        QTest::qWait(400); // the entrance

        const QStringList found = faults(window);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
        // The popup's own item is the dialog a screen reader enters.
        QQuickItem *content = popup->property("contentItem").value<QQuickItem *>();
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(content ? content->parentItem() : nullptr);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::Dialog);
        QCOMPARE(iface->text(QAccessible::Name), name);
    }

    // Each state the lyrics, the cards and the library can be in, with the demo song playing:
    // everything it shows can be read from the tree. The one request that answers differently:
    // never (0) or with that status and body; the study panel's tab shown.
    void states_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("texts");
        const QString track = QStringLiteral("/api/track");
        const QString cards = QStringLiteral("/api/cards");
        QTest::newRow("lyrics loading") << track << 0 << QJsonObject() << 0 << QStringLiteral("lyricsArea.fetching")
                                        << QStringList{QStringLiteral("正在获取歌词…")};
        QTest::newRow("lyrics failed") << track << 500 << QJsonObject() << 0 << QStringLiteral("lyricsArea.failure")
                                       << QStringList{QStringLiteral("重试")};
        QTest::newRow("cards loading") << cards << 0 << QJsonObject() << 0 << QStringLiteral("now.loading")
                                       << QStringList{QStringLiteral("正在生成学习卡片…")};
        QTest::newRow("cards failed") << cards << 500 << QJsonObject() << 0 << QStringLiteral("now.error")
                                      << QStringList{QStringLiteral("金句生成失败"), QStringLiteral("重试")};
        // Nothing favourited or mastered yet.
        QTest::newRow("favourites empty") << cards << 0 << QJsonObject() << 2 << QStringLiteral("favorites.songsEmpty")
                                          << QStringList();
        QTest::newRow("mastered empty") << cards << 0 << QJsonObject() << 3 << QStringLiteral("mastered.empty")
                                        << QStringList();
    }
    void states()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QJsonObject, body);
        QFETCH(int, tab);
        QFETCH(QString, shown);
        QFETCH(QStringList, texts);
        DemoSongShell demo([&](ShellFixture &fx, AppStateDependencies &) {
            fx.server.setReply(path, status == 0 ? HttpFake::Reply::neverAnswer() : HttpFake::Reply::json(status, body));
        });
        QQuickWindow *window = demo.window;
        QVERIFY(window);
        if (tab != 0) {
            QQuickItem *panel = window->findChild<QQuickItem *>(QStringLiteral("studyPanel"));
            QTRY_VERIFY(panel);
            panel->property("controller").value<QObject *>()->setProperty("selectedTab", tab);
        }
        QTRY_VERIFY_WITH_TIMEOUT(visibleItem(window->contentItem(), shown), 20000);
        QTRY_VERIFY(visibleItem(window->contentItem(), shown)->opacity() == 1.0);
        QTest::qWait(400); // the cross-fade into the state

        const QStringList found = faults(window);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
        const QList<Node> nodes = accessibilityTree(window);
        for (const QString &text : std::as_const(texts))
            QVERIFY2(readable(nodes, text), qPrintable(text));
    }
};

QTEST_MAIN(TestAccessibilityTree)
#include "tst_accessibilitytree.moc"
