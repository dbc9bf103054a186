#pragma once

#include "core/store/CardStore.h"
#include "session/player/PlayerViewModel.h"
#include "ui/design/Motion.h"

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QtQml/qqmlregistration.h>

#include <functional>

class LearnedCard;
class SongRecord;

// The study panel's state: the selected tab, the song the Now tab is locked on, the playing
// song's key the tabs mark rows with, and the one-time migration's warning.
//
// The lock holds a live record. When the store releases it (a restore replaces the library),
// the record with the same key is looked up again; without one the lock is cleared.
class StudyPanelController : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_ELEMENT
    Q_PROPERTY(CardStore *cardStore READ cardStore WRITE setCardStore NOTIFY cardStoreChanged)
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY vmChanged)
    Q_PROPERTY(int selectedTab READ selectedTab WRITE setSelectedTab NOTIFY selectedTabChanged)
    Q_PROPERTY(int switchDuration READ switchDuration NOTIFY selectedTabChanged)
    Q_PROPERTY(bool switchedBySelection READ switchedBySelection NOTIFY selectedTabChanged)
    Q_PROPERTY(SongRecord *lockedSong READ lockedSong NOTIFY lockedSongChanged)
    Q_PROPERTY(QString currentSongKey READ currentSongKey NOTIFY currentSongKeyChanged)
    Q_PROPERTY(QString migrationError READ migrationError NOTIFY migrationErrorChanged)
    Q_PROPERTY(QStringList tabTitles READ tabTitles CONSTANT)

public:
    enum StudyTab { Now, History, Favorites, Mastered };
    Q_ENUM(StudyTab)

    static constexpr const char *migrationFailedText = "本地数据迁移失败，部分历史可能不可用";
    // The tab change's animation: the motion token, or the selection's own 0.25 s.
    static constexpr int tabChangeDuration = Motion::Curve::tabSwitch.durationMs();
    static constexpr int selectionSwitchDuration = 250;

    explicit StudyPanelController(QObject *parent = nullptr);
    ~StudyPanelController() override;

    CardStore *cardStore() const { return m_store; }
    void setCardStore(CardStore *store);
    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);
    int selectedTab() const { return m_tab; }
    void setSelectedTab(int tab);
    int switchDuration() const { return m_switchDuration; }
    // The last change came from picking a song or card (its own animation, also with reduced motion).
    bool switchedBySelection() const { return m_switchDuration == selectionSwitchDuration; }
    SongRecord *lockedSong() const;
    // The playing track's song key; empty without a track.
    QString currentSongKey() const { return m_currentKey; }
    QString migrationError() const { return m_migrationError; }
    QStringList tabTitles() const;

    // The migration the panel runs each time it is shown: by default the store's, on its
    // background writer; one set here runs at once.
    void setMigration(std::function<void(CardStore &)> migration);
    // Starts the migration; a failure shows the warning for the rest of the panel's life.
    void runMigration();

    // Locks the Now tab on the song, then shows it.
    Q_INVOKABLE void selectSong(SongRecord *song);
    // The same with the card's song; a card without a song changes nothing.
    Q_INVOKABLE void selectCard(LearnedCard *card);
    // The Now tab's return chip.
    Q_INVOKABLE void clearLock();

    void classBegin() override {}
    void componentComplete() override;

signals:
    void cardStoreChanged();
    void vmChanged();
    void selectedTabChanged();
    void lockedSongChanged();
    void currentSongKeyChanged();
    void migrationErrorChanged();

private:
    void changeTab(int tab, int duration);
    void setLock(SongRecord *song);
    void lockReleased();
    void updateCurrentSongKey();

    QPointer<CardStore> m_store;
    QPointer<PlayerViewModel> m_vm;
    QMetaObject::Connection m_trackConnection;
    int m_tab = Now;
    int m_switchDuration = tabChangeDuration;
    QPointer<SongRecord> m_locked;
    QString m_lockedKey;
    QMetaObject::Connection m_lockReleased;
    QString m_currentKey;
    QString m_migrationError;
    std::function<QCoro::Task<void>(CardStore &)> m_migration;
    static QCoro::Task<void> migrate(QPointer<StudyPanelController> self, QCoro::Task<void> migration);
};
