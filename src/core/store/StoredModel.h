#pragma once

#include <QHashFunctions>
#include <QObject>
#include <QString>

class ModelContext;

// The store's identity of a model object: its table and row id. An object that has not
// been saved yet carries a negative, process-unique temporary value instead of a row id.
struct PersistentIdentifier
{
    enum class Entity : quint8 { Song, Card };

    Entity entity = Entity::Song;
    qint64 value = 0;

    bool isTemporary() const { return value < 0; }
    QString toString() const;

    friend bool operator==(const PersistentIdentifier &, const PersistentIdentifier &) = default;
};

size_t qHash(const PersistentIdentifier &id, size_t seed = 0) noexcept;

// Where a model object stands with respect to its context.
enum class ModelState {
    New,       // constructed, in no context
    Inserted,  // in a context, not saved yet
    Persisted, // backed by a row
    Deleted,   // deleted: pending in the context, or already gone from the store
};

// Common base of the two stored model classes. It holds the object's place in its
// context: identity, life-cycle state and the set of properties changed since the last
// save. Every property write goes through assign(), which stores silently when the value
// is equal and otherwise records the change with the context and announces it.
// A model object belongs to the thread of the context that made or fetched it.
class StoredModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString persistentId READ persistentIdString NOTIFY persistentIdChanged)

public:
    ~StoredModel() override;

    PersistentIdentifier id() const;
    QString persistentIdString() const { return id().toString(); }
    ModelState state() const { return m_state; }
    bool isDeleted() const { return m_state == ModelState::Deleted; }
    // Changes not yet saved (property writes, a pending insert or delete).
    bool hasChanges() const;
    ModelContext *modelContext() const { return m_context; }
    // The row id once saved; 0 before.
    qint64 rowId() const { return m_rowId; }

signals:
    void persistentIdChanged();

protected:
    explicit StoredModel(PersistentIdentifier::Entity entity);

    // Called before any change of persisted state (property or relationship).
    void willChange();

    template<class Self, class T>
    void assign(T &field, const T &value, int bit, void (Self::*changed)())
    {
        if (field == value)
            return;
        willChange();
        field = value;
        m_dirty |= 1u << bit;
        emit(static_cast<Self *>(this)->*changed)();
        announced(bit);
    }
    // Tells the context's observer that property `bit` changed (see ModelContext::Observer).
    void announced(int bit);

    bool isDirty(int bit) const { return m_dirty & (1u << bit); }
    void markDirty(int bit) { m_dirty |= 1u << bit; }

private:
    friend class ModelContext;

    PersistentIdentifier::Entity m_entity;
    ModelContext *m_context = nullptr;
    ModelState m_state = ModelState::New;
    qint64 m_rowId = 0;
    qint64 m_tempId;
    quint32 m_dirty = 0;
    qint64 m_version = -1;     // the row's version as this object holds it; -1: unknown
    quint64 m_touchSerial = 0; // journal level that last recorded this object
    bool m_pending = false;    // in the context's list of changes to write
};
