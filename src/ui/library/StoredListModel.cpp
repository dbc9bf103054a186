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
    m_store = store;
    if (store) {
        // Another connection's commit deleted objects of this list (a restore replaced the
        // library): fetch at once, so the list shows the store as it is when the merge is announced.
        m_mergeConnection = connect(store, &CardStore::externalChangesMerged, this, [this] {
            for (StoredModel *object : std::as_const(m_objects)) {
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
    beginResetModel();
    m_objects = std::move(result);
    m_watch = std::make_unique<QObject>();
    for (int i = 0; i < m_objects.size(); ++i) {
        QObject::connect(m_objects.at(i), &QObject::destroyed, m_watch.get(),
                         [this, i] { objectReleased(i); });
    }
    objectsReplaced();
    endResetModel();
    if (before != count())
        emit countChanged();
    emit fetched();
}

void StoredListModel::objectReleased(int index)
{
    // The object is going away: no delegate may read it any more.
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
            m_refetchQueued = false;
            // While the store takes in another connection's commit, the list is fetched once
            // that is announced, not from a half-merged state.
            if (m_store && m_store->isTakingInExternalChanges())
                return;
            reload();
        },
        Qt::QueuedConnection);
}
