#include "ui/library/StoryOverlayModel.h"

#include "core/StoryParser.h"
#include "session/player/PlayerViewModel.h"

StoryOverlayModel::StoryOverlayModel(QObject *parent)
    : QObject(parent)
{
}

void StoryOverlayModel::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    for (const auto &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_vm = vm;
    if (vm) {
        m_connections = {
            connect(vm, &PlayerViewModel::trackChanged, this, &StoryOverlayModel::rebuildContent),
            connect(vm, &PlayerViewModel::currentStoryChanged, this, &StoryOverlayModel::rebuildContent),
            connect(vm, &PlayerViewModel::isStoryModalOpenChanged, this, &StoryOverlayModel::refreshShown),
        };
    }
    rebuildContent();
    emit vmChanged();
}

void StoryOverlayModel::dismiss()
{
    if (m_vm)
        m_vm->setIsStoryModalOpen(false);
}

void StoryOverlayModel::refreshShown()
{
    const bool shown = m_vm && m_vm->track() && m_vm->isStoryModalOpen() && m_vm->currentStory();
    if (shown == m_shown)
        return;
    m_shown = shown;
    emit shownChanged();
}

void StoryOverlayModel::rebuildContent()
{
    const std::optional<SongStory> story = m_vm ? m_vm->currentStory() : std::nullopt;
    const std::optional<NowPlayingTrack> track = m_vm ? m_vm->track() : std::nullopt;
    const ParsedStory parsed = story ? ParsedStory::parse(story->article) : ParsedStory();

    m_songKey = track ? track->songKey() : QString();
    m_artist = track ? track->artist : QString();
    m_titleEN = parsed.titleEN.value_or(story ? story->title : QString());
    m_titleCN = parsed.titleCN.value_or(QString());
    m_yearText = parsed.year ? QString::number(*parsed.year) : QString();
    m_genre = parsed.genre.value_or(QString());
    m_moodTags = parsed.moodTags.mid(0, maxMoodChips);
    m_quote = parsed.signatureLine.value_or(QString());
    m_paragraphsEN = story ? story->paragraphsEN() : QStringList();
    m_paragraphsCN = parsed.paragraphsCN;
    emit contentChanged();
    refreshShown();
}
