#include "core/store/StoredModel.h"

#include "core/store/ModelContext.h"

#include <atomic>

namespace {
std::atomic<qint64> nextTemporaryId{-1};
}

QString PersistentIdentifier::toString() const
{
    const QLatin1String prefix = entity == Entity::Song ? QLatin1String("song/") : QLatin1String("card/");
    return prefix + QString::number(value);
}

size_t qHash(const PersistentIdentifier &id, size_t seed) noexcept
{
    return qHashMulti(seed, quint8(id.entity), id.value);
}

StoredModel::StoredModel(PersistentIdentifier::Entity entity)
    : m_entity(entity)
    , m_tempId(nextTemporaryId.fetch_sub(1, std::memory_order_relaxed))
{
}

StoredModel::~StoredModel() = default;

PersistentIdentifier StoredModel::id() const
{
    return {m_entity, m_rowId > 0 ? m_rowId : m_tempId};
}

bool StoredModel::hasChanges() const
{
    return m_dirty != 0 || m_state == ModelState::Inserted || (m_state == ModelState::Deleted && m_pending);
}

void StoredModel::willChange()
{
    if (m_context)
        m_context->noteChange(this);
}

void StoredModel::announced(int bit)
{
    if (m_context)
        m_context->noteAnnounced(this, bit);
}
