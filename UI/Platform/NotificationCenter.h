// The process's notification centre: windows post names with an object and
// a dictionary, observers registered under an owner receive them. An
// observer lives only as long as its owner, so a window that goes away can
// never be called back afterwards.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora::ui {

struct Notification {
    QString name;
    QVariant object;
    QVariantMap userInfo;
};

class NotificationCenter : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter() = default;
    ~NotificationCenter() override;
    static NotificationCenter& defaultCenter();

    // `handler` runs for every post of `name` (of any name when empty) whose
    // object equals `object` (any object when `object` is not valid), until
    // `owner` is destroyed or removed.
    void addObserver(QObject* owner, const QString& name, Handler handler,
                     const QVariant& object = {});
    // Every observer of `owner`, or only those of `name`.
    void removeObserver(QObject* owner, const QString& name = {});

    // Delivers at once on the calling thread.
    void post(const QString& name, const QVariant& object = {}, const QVariantMap& userInfo = {});
    // Delivers later on the centre's (the main) thread, from any thread. With
    // no application object the post waits in a queue for deliverPending().
    void postOnMainThread(const QString& name, const QVariant& object = {},
                          const QVariantMap& userInfo = {});
    // Delivers what waits without an application object; the number delivered.
    int deliverPending();

    int observerCount(const QString& name) const;

private:
    struct Entry {
        QPointer<QObject> owner;
        const QObject* ownerId = nullptr;
        QString name;
        QVariant object;
        Handler handler;
        bool alive = true;
    };
    void dropOwner(const QObject* owner, const QString& name);
    void deliver(const Notification& note);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    std::vector<Notification> pending_;
};

}  // namespace velmora::ui
