// Taking stored rows into existing model objects.

#include "core/store/ModelContext.h"
#include "core/store/StoreRows.h"

#include <QAnyStringView>

// Column N of a row holds field N - 1 (column 0 is the row id).

template<class M>
void ModelContext::takeText(M *model, QString &field, const SqliteStatement &row, int column, void (M::*changed)())
{
    if (model->m_dirty & (1u << (column - 1)))
        return;
    const QUtf8StringView stored = row.textView(column);
    if (QAnyStringView::equal(field, stored))
        return;
    field = stored.toString();
    emit(model->*changed)();
    model->announced(column - 1);
}

template<class M>
void ModelContext::takeOptionalText(M *model, std::optional<QString> &field, const SqliteStatement &row, int column,
                                    void (M::*changed)())
{
    if (model->m_dirty & (1u << (column - 1)))
        return;
    if (row.isNull(column)) {
        if (!field)
            return;
        field.reset();
    } else {
        const QUtf8StringView stored = row.textView(column);
        if (field && QAnyStringView::equal(*field, stored))
            return;
        field = stored.toString();
    }
    emit(model->*changed)();
    model->announced(column - 1);
}

template<class M, class T>
void ModelContext::takeValue(M *model, T &field, const T &stored, int column, void (M::*changed)())
{
    if ((model->m_dirty & (1u << (column - 1))) || field == stored)
        return;
    field = stored;
    emit(model->*changed)();
    model->announced(column - 1);
}

using StoreRows::dateAt;

void ModelContext::takeSongRow(SongRecord *s, const SqliteStatement &row)
{
    SongValues &v = s->m_v;
    takeText(s, v.key, row, 1, &SongRecord::keyChanged);
    takeText(s, v.title, row, 2, &SongRecord::titleChanged);
    takeText(s, v.artist, row, 3, &SongRecord::artistChanged);
    takeText(s, v.lyrics, row, 4, &SongRecord::lyricsChanged);
    takeOptionalText(s, v.language, row, 5, &SongRecord::languageChanged);
    takeOptionalText(s, v.storyArticle, row, 6, &SongRecord::storyArticleChanged);
    takeValue(s, v.lyricsOffset, row.optionalReal(7), 7, &SongRecord::lyricsOffsetChanged);
    takeValue(s, v.lastPlayedAt, dateAt(row, 8), 8, &SongRecord::lastPlayedAtChanged);
    takeValue(s, v.isFavorite, row.boolean(9), 9, &SongRecord::isFavoriteChanged);
    takeValue(s, v.favoritedAt, dateAt(row, 10), 10, &SongRecord::favoritedAtChanged);
    takeValue(s, v.playCount, row.int64(11), 11, &SongRecord::playCountChanged);
    s->m_version = row.int64(StoreRows::songVersionColumn);
}

void ModelContext::takeCardRow(LearnedCard *c, const SqliteStatement &row)
{
    if (c->m_fault) {
        // Nobody has read a fault's properties, so there is nothing to announce.
        c->m_v = StoreRows::readCard(row);
        c->m_version = row.int64(StoreRows::cardVersionColumn);
        c->m_fault = false;
        return;
    }
    CardValues &v = c->m_v;
    const auto enBefore = v.en.constData();
    const auto tagBefore = v.tag.constData();
    takeText(c, v.songKey, row, 1, &LearnedCard::songKeyChanged);
    takeText(c, v.en, row, 2, &LearnedCard::enChanged);
    takeText(c, v.cn, row, 3, &LearnedCard::cnChanged);
    takeText(c, v.note, row, 4, &LearnedCard::noteChanged);
    takeText(c, v.example, row, 5, &LearnedCard::exampleChanged);
    takeText(c, v.tag, row, 6, &LearnedCard::tagChanged);
    takeValue(c, v.lineTimestamp, row.optionalReal(7), 7, &LearnedCard::lineTimestampChanged);
    takeValue(c, v.learned, row.boolean(8), 8, &LearnedCard::learnedChanged);
    // column 9, song_id, is the link: handled by the caller
    takeValue(c, v.isMastered, row.boolean(10), 10, &LearnedCard::isMasteredChanged);
    takeValue(c, v.masteredAt, dateAt(row, 11), 11, &LearnedCard::masteredAtChanged);
    takeValue(c, v.isFavorite, row.boolean(12), 12, &LearnedCard::isFavoriteChanged);
    takeValue(c, v.favoritedAt, dateAt(row, 13), 13, &LearnedCard::favoritedAtChanged);
    takeOptionalText(c, v.pronunciationHintJSON, row, 14, &LearnedCard::pronunciationHintJSONChanged);
    takeOptionalText(c, v.culturalHint, row, 15, &LearnedCard::culturalHintChanged);
    takeOptionalText(c, v.listeningDifficultyRaw, row, 16, &LearnedCard::listeningDifficultyRawChanged);
    c->m_version = row.int64(StoreRows::cardVersionColumn);
    // takeText only reassigns a text that changed.
    if (v.en.constData() != enBefore || v.tag.constData() != tagBefore)
        emit c->cardIdChanged();
}
