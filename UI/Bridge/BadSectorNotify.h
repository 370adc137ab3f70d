// The interface side of bad sectors met during a scan: the engine's event
// relay hands each failed sector read to the centre registered under the
// event's key, on the relay's delivery thread; the observer a scan creates
// turns it into the main-thread notification "BadSectorNotify".
#pragma once

#include <memory>
#include <vector>

#include "Utility/MessageCenter.h"

class INotifyObserver {
public:
    // `payload` is the centre's copy of the event's bytes (null when it had
    // none), valid until the next event.
    virtual void Notify(int type, void* payload) = 0;

protected:
    ~INotifyObserver() = default;
};

class CMyNotifyCenter final : public INotifyCenter {
public:
    CMyNotifyCenter() = default;
    ~CMyNotifyCenter();
    CMyNotifyCenter(const CMyNotifyCenter&) = delete;
    CMyNotifyCenter& operator=(const CMyNotifyCenter&) = delete;

    void SetType(int type) { m_type = type; }
    int GetType() const { return m_type; }
    // Observers are called in the order they were added; a centre does not
    // own them, they remove themselves before they end.
    void AddObserver(INotifyObserver* observer);
    void RemoveObserver(INotifyObserver* observer);
    void NotifyObserver(int type);
    // Keeps a copy of the event's payload, then tells every observer.
    void Notify(_MSG_EVENT* event) override;

private:
    int m_type = 0;
    std::vector<INotifyObserver*> m_observers;
    std::unique_ptr<unsigned char[]> m_payload;
};

// Lives for the length of one scan, and only one at a time (one scan runs
// at a time). It joins the centre under the relay's key 1, making (and then
// owning) one when there is none, and posts "BadSectorNotify" to the main
// thread for every failed sector read.
class CProgressNotify final : public INotifyObserver {
public:
    static constexpr int kRelayKey = 1;
    static constexpr const char* kNotificationName = "BadSectorNotify";

    CProgressNotify();
    ~CProgressNotify();
    CProgressNotify(const CProgressNotify&) = delete;
    CProgressNotify& operator=(const CProgressNotify&) = delete;

    void Notify(int type, void* payload) override;

private:
    CMessageCenter* m_relay;
    CMyNotifyCenter* m_centre = nullptr;
    std::unique_ptr<CMyNotifyCenter> m_ownCentre;
};
