// CardStore's bulk doors for the backup: the whole library out as plain rows, and in as a
// replacement that either happens completely or not at all.

#include "core/store/CardStore.h"

#include "core/store/SongOperations.h"

#include <QSet>

namespace {

class LibraryReplacement final : public LibraryWriter
{
public:
    explicit LibraryReplacement(ModelContext &context)
        : m_context(context)
    {
    }

    void clear() override
    {
        m_context.removeAllRows();
        m_written.clear();
    }

    void write(LibrarySongRow &&song) override
    {
        // A key written before: the later song replaces it whole, cards included.
        if (m_written.contains(song.key))
            m_context.removeRows(song.key);
        else
            m_written.insert(song.key);
        song.cards = SongOperations::lastOfEachIdentity(std::move(song.cards));
        m_context.insertRows(song);
    }

private:
    ModelContext &m_context;
    QSet<QByteArray> m_written;
};

} // namespace

void CardStore::replaceLibrary(const LibrarySource &source)
{
    transaction([&] {
        LibraryReplacement replacement(*m_context);
        replacement.clear();
        source(replacement);
    });
}

void CardStore::readLibrary(const std::function<void(LibraryRowCursor &)> &visit)
{
    m_context->read([&] {
        LibraryRowCursor cursor(m_context->database());
        visit(cursor);
    });
}
