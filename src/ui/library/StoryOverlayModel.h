#pragma once

#include "session/player/PlayerViewModel.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>


// What the song story overlay shows: whether it shows at all (a track, the open flag and a story,
// all three), and the sections of the story, derived once per change of the story or the track.
// A section that has nothing to show reads empty.
class StoryOverlayModel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY vmChanged)
    Q_PROPERTY(bool shown READ shown NOTIFY shownChanged)
    Q_PROPERTY(QString songKey READ songKey NOTIFY contentChanged)
    Q_PROPERTY(QString titleEN READ titleEN NOTIFY contentChanged)
    Q_PROPERTY(QString titleCN READ titleCN NOTIFY contentChanged)
    Q_PROPERTY(QString artist READ artist NOTIFY contentChanged)
    Q_PROPERTY(QString yearText READ yearText NOTIFY contentChanged)
    Q_PROPERTY(QString genre READ genre NOTIFY contentChanged)
    Q_PROPERTY(QStringList moodTags READ moodTags NOTIFY contentChanged)
    Q_PROPERTY(QString quote READ quote NOTIFY contentChanged)
    Q_PROPERTY(QStringList paragraphsEN READ paragraphsEN NOTIFY contentChanged)
    Q_PROPERTY(QStringList paragraphsCN READ paragraphsCN NOTIFY contentChanged)
    Q_PROPERTY(bool hasChips READ hasChips NOTIFY contentChanged)
    Q_PROPERTY(bool hasDivider READ hasDivider NOTIFY contentChanged)

public:
    static constexpr int maxMoodChips = 5;

    explicit StoryOverlayModel(QObject *parent = nullptr);

    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);

    bool shown() const { return m_shown; }
    QString songKey() const { return m_songKey; }
    QString titleEN() const { return m_titleEN; }
    QString titleCN() const { return m_titleCN; }
    QString artist() const { return m_artist; }
    QString yearText() const { return m_yearText; }
    QString genre() const { return m_genre; }
    QStringList moodTags() const { return m_moodTags; }
    QString quote() const { return m_quote; }
    QStringList paragraphsEN() const { return m_paragraphsEN; }
    QStringList paragraphsCN() const { return m_paragraphsCN; }
    bool hasChips() const { return !m_yearText.isEmpty() || !m_genre.isEmpty(); }
    bool hasDivider() const { return !m_paragraphsEN.isEmpty() && !m_paragraphsCN.isEmpty(); }

    // Clears the open flag (the overlay's three ways out all come here).
    Q_INVOKABLE void dismiss();

signals:
    void vmChanged();
    void shownChanged();
    void contentChanged();

private:
    void refreshShown();
    void rebuildContent();

    QPointer<PlayerViewModel> m_vm;
    QList<QMetaObject::Connection> m_connections;
    bool m_shown = false;
    QString m_songKey;
    QString m_titleEN;
    QString m_titleCN;
    QString m_artist;
    QString m_yearText;
    QString m_genre;
    QStringList m_moodTags;
    QString m_quote;
    QStringList m_paragraphsEN;
    QStringList m_paragraphsCN;
};
