// CardStore's bulk doors for the backup: the whole library out as plain rows, and in as a
// replacement that either happens completely or not at all.

#include "core/store/CardStore.h"

void CardStore::replaceLibrary(const LibrarySource &source)
{
    transaction([&] { m_context->replaceAllRows(source); });
}

void CardStore::readLibrary(const std::function<void(LibraryRowCursor &)> &visit)
{
    m_context->read([&] {
        LibraryRowCursor cursor(m_context->database());
        visit(cursor);
    });
}
