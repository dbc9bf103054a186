#include "ui/library/StudyPanelController.h"

#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"

#include <QTimer>

StudyPanelController::StudyPanelController(QObject *parent)
    : QObject(parent)
    , m_migration([](CardStore &store) { return store.migrateStudyPanelInBackground(); })
{
}

StudyPanelController::~StudyPanelController() = default;

void StudyPanelController::setCardStore(CardStore *store)
{
    if (m_store == store)
        return;
    m_store = store;
    emit cardStoreChanged();
}

void StudyPanelController::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    disconnect(m_trackConnection);
    m_vm = vm;
    if (vm)
        m_trackConnection = connect(vm, &PlayerViewModel::trackChanged, this, &StudyPanelController::updateCurrentSongKey);
    updateCurrentSongKey();
    emit vmChanged();
}

void StudyPanelController::updateCurrentSongKey()
{
    QString key;
    if (m_vm && m_vm->track())
        key = m_vm->track()->songKey();
    if (key == m_currentKey)
        return;
    m_currentKey = key;
    emit currentSongKeyChanged();
}

QStringList StudyPanelController::tabTitles() const
{
    return {QStringLiteral("Now"), QStringLiteral("History"), QStringLiteral("Favorites"), QStringLiteral("Mastered")};
}

void StudyPanelController::setSelectedTab(int tab)
{
    changeTab(tab, tabChangeDuration);
}

void StudyPanelController::changeTab(int tab, int duration)
{
    if (tab < Now || tab > Mastered || tab == m_tab)
        return;
    m_tab = tab;
    m_switchDuration = duration;
    emit selectedTabChanged();
}

SongRecord *StudyPanelController::lockedSong() const
{
    return m_locked;
}

void StudyPanelController::selectSong(SongRecord *song)
{
    if (!song || song->isDeleted())
        return;
    setLock(song);
    changeTab(Now, selectionSwitchDuration);
}

void StudyPanelController::selectCard(LearnedCard *card)
{
    if (!card || card->isDeleted())
        return;
    SongRecord *song = nullptr;
    try {
        song = card->song();
    } catch (...) {
        return; // the song could not be read: as if the card had none
    }
    selectSong(song);
}

void StudyPanelController::clearLock()
{
    setLock(nullptr);
}

void StudyPanelController::setLock(SongRecord *song)
{
    if (m_locked == song)
        return;
    disconnect(m_lockReleased);
    m_locked = song;
    m_lockedKey = song ? song->key() : QString();
    if (song)
        m_lockReleased = connect(song, &QObject::destroyed, this, &StudyPanelController::lockReleased);
    emit lockedSongChanged();
}

void StudyPanelController::lockReleased()
{
    // The record is going away (its deletion is committed): the key names its successor, if any.
    m_locked = nullptr;
    SongRecord *successor = nullptr;
    if (m_store) {
        try {
            successor = m_store->record(m_lockedKey);
        } catch (...) {
            successor = nullptr;
        }
    }
    if (successor && successor->isDeleted())
        successor = nullptr;
    disconnect(m_lockReleased);
    if (successor) {
        m_locked = successor;
        m_lockReleased = connect(successor, &QObject::destroyed, this, &StudyPanelController::lockReleased);
    } else {
        m_lockedKey.clear();
    }
    emit lockedSongChanged();
}

void StudyPanelController::componentComplete()
{
    // After the first frame, like the view's start-up task.
    QTimer::singleShot(0, this, &StudyPanelController::runMigration);
}

namespace {

QCoro::Task<void> runNow(std::function<void(CardStore &)> migration, CardStore *store)
{
    migration(*store);
    co_return;
}

} // namespace

void StudyPanelController::setMigration(std::function<void(CardStore &)> migration)
{
    m_migration = [migration = std::move(migration)](CardStore &store) { return runNow(migration, &store); };
}

void StudyPanelController::runMigration()
{
    if (!m_store || !m_migration)
        return;
    [[maybe_unused]] QCoro::Task<void> running = migrate(this, m_migration(*m_store));
}

QCoro::Task<void> StudyPanelController::migrate(QPointer<StudyPanelController> self, QCoro::Task<void> migration)
{
    bool failed = false;
    try {
        co_await std::move(migration);
    } catch (...) {
        failed = true;
    }
    if (failed && self && self->m_migrationError.isEmpty()) {
        self->m_migrationError = QString::fromUtf8(migrationFailedText);
        emit self->migrationErrorChanged();
    }
}
