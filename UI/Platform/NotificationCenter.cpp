#include "UIPlatform/NotificationCenter.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

namespace velmora::ui {

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = [] {
        auto* made = new NotificationCenter;
        // Queued posts must land on the main thread whoever asked first.
        if (auto* app = QCoreApplication::instance())
            made->moveToThread(app->thread());
        return made;
    }();
    return *center;
}

void NotificationCenter::addObserver(QObject* owner, const QString& name, Handler handler,
                                     const QVariant& object) {
    if (!owner || !handler)
        return;
    auto entry = std::make_shared<Entry>();
    entry->owner = owner;
    entry->ownerId = owner;
    entry->name = name;
    entry->object = object;
    entry->handler = std::move(handler);
    bool firstOfOwner = false;
    {
        std::lock_guard lock(mutex_);
        firstOfOwner = std::none_of(entries_.begin(), entries_.end(),
                                    [owner](const auto& e) { return e->ownerId == owner; });
        entries_.push_back(std::move(entry));
    }
    if (firstOfOwner) {
        connect(
            owner, &QObject::destroyed, this, [this](QObject* gone) { dropOwner(gone, QString()); },
            Qt::DirectConnection);
    }
}

void NotificationCenter::removeObserver(QObject* owner, const QString& name) {
    dropOwner(owner, name);
}

void NotificationCenter::dropOwner(const QObject* owner, const QString& name) {
    std::lock_guard lock(mutex_);
    auto gone = [&](const std::shared_ptr<Entry>& e) {
        if (e->ownerId != owner || (!name.isEmpty() && e->name != name))
            return false;
        // A delivery already under way holds its own copy: mark it too.
        e->alive = false;
        return true;
    };
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), gone), entries_.end());
}

void NotificationCenter::post(const QString& name, const QVariant& object,
                              const QVariantMap& userInfo) {
    deliver(Notification{name, object, userInfo});
}

void NotificationCenter::deliver(const Notification& note) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_) {
            if ((e->name.isEmpty() || e->name == note.name) &&
                (!e->object.isValid() || e->object == note.object))
                targets.push_back(e);
        }
    }
    // A handler may remove observers or destroy owners, its own included.
    for (const auto& e : targets) {
        bool live;
        {
            std::lock_guard lock(mutex_);
            live = e->alive && !e->owner.isNull();
        }
        if (live)
            e->handler(note);
    }
}

void NotificationCenter::postOnMainThread(const QString& name, const QVariant& object,
                                          const QVariantMap& userInfo) {
    Notification note{name, object, userInfo};
    if (!QCoreApplication::instance()) {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(note));
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, note] { deliver(note); }, Qt::QueuedConnection);
}

int NotificationCenter::deliverPending() {
    std::vector<Notification> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(pending_);
    }
    for (const auto& note : batch)
        deliver(note);
    return static_cast<int>(batch.size());
}

int NotificationCenter::observerCount(const QString& name) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(),
                                          [&](const auto& e) { return e->name == name; }));
}

}  // namespace velmora::ui
