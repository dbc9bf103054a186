#include "ui/library/StoredListModel.h"

#include <QMetaObject>

StoredListModel::StoredListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

StoredListModel::~StoredListModel() = default;

void StoredListModel::setCardStore(CardStore *store)
{
    if (m_store == store)
        return;
    disconnect(m_mergeConnection);
    disconnect(m_releaseConnection);
    m_store = store;
    if (store) {
        m_releaseConnection = connect(store, &CardStore::objectReleased, this, [this](const StoredModel *object) {
            if (const int index = indexOfObject(object); index >= 0)
                objectReleased(index);
        });
        // Another connection's commit deleted objects of this list (a restore replaced the
        // library): fetch at once, so the list shows the store as it is when the merge is announced.
        m_mergeConnection = connect(store, &CardStore::externalChangesMerged, this, [this] {
            for (const QPointer<StoredModel> &object : std::as_const(m_objects)) {
                if (!object || object->isDeleted()) {
                    reload();
                    return;
                }
            }
        });
    }
    emit cardStoreChanged();
    if (m_complete)
        reload();
}

void StoredListModel::componentComplete()
{
    m_complete = true;
    reload();
}

void StoredListModel::reload()
{
    QList<StoredModel *> result;
    if (m_store) {
        try {
            result = fetchObjects(*m_store);
        } catch (...) {
            // A failed fetch shows as the empty state, without a message.
            result.clear();
        }
    }
    ++m_fetches;
    const int before = count();
    // A refetch already queued would only repeat this one.
    m_refetchQueued = false;
    beginResetModel();
    m_objects = QList<QPointer<StoredModel>>(result.begin(), result.end());
    m_indexOf.clear();
    m_indexBuilt = false;
    objectsReplaced();
    endResetModel();
    if (before != count())
        emit countChanged();
    emit fetched();
}

int StoredListModel::indexOfObject(const StoredModel *object) const
{
    if (!object)
        return -1;
    if (!m_indexBuilt) {
        m_indexOf.reserve(m_objects.size());
        for (int i = 0; i < m_objects.size(); ++i) {
            if (const StoredModel *held = m_objects.at(i).data())
                m_indexOf.insert(held, i);
        }
        m_indexBuilt = true;
    }
    const int index = m_indexOf.value(object, -1);
    return index >= 0 && m_objects.at(index).data() == object ? index : -1;
}

void StoredListModel::objectReleased(int index)
{
    // The object is going away: no delegate may read it any more. Its address may be reused by
    // a later object, so it leaves the map too.
    m_indexOf.remove(m_objects.at(index).data());
    m_objects[index] = nullptr;
    const QModelIndex row = this->index(rowOfObject(index));
    emit dataChanged(row, row);
    scheduleRefetch();
}

void StoredListModel::scheduleRefetch()
{
    if (m_refetchQueued)
        return;
    m_refetchQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_refetchQueued)
                return; // fetched meanwhile
            m_refetchQueued = false;
            // While the store takes in another connection's commit, the list is fetched once
            // that is announced, not from a half-merged state.
            if (m_store && m_store->isTakingInExternalChanges())
                return;
            reload();
        },
        Qt::QueuedConnection);
}
