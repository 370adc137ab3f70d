#include "BadSectorNotify.h"

#include <algorithm>
#include <cstring>

#include "MainThread.h"

namespace {

// Guards the observer lists of every centre: the scan thread adds and
// removes while the relay's thread walks them.
mutex_locker m_CriticalSection;

}  // namespace

CMyNotifyCenter::~CMyNotifyCenter() = default;

void CMyNotifyCenter::AddObserver(INotifyObserver* observer) {
    autolocker<mutex_locker> hold(m_CriticalSection);
    m_observers.push_back(observer);
}

void CMyNotifyCenter::RemoveObserver(INotifyObserver* observer) {
    autolocker<mutex_locker> hold(m_CriticalSection);
    auto it = std::find(m_observers.begin(), m_observers.end(), observer);
    if (it != m_observers.end())
        m_observers.erase(it);
}

void CMyNotifyCenter::NotifyObserver(int type) {
    autolocker<mutex_locker> hold(m_CriticalSection);
    for (INotifyObserver* observer : m_observers)
        observer->Notify(type, m_payload.get());
}

void CMyNotifyCenter::Notify(_MSG_EVENT* event) {
    if (event == nullptr)
        return;
    m_payload.reset();
    if (event->length > 0) {
        m_payload = std::make_unique<unsigned char[]>(static_cast<size_t>(event->length));
        std::memcpy(m_payload.get(), event->payload, static_cast<size_t>(event->length));
    }
    NotifyObserver(event->type);
}

CProgressNotify::CProgressNotify() : m_relay(CMessageCenter::Instance()) {
    // Only a centre of our own kind can take an observer; anything else
    // under the key is replaced for the length of the scan.
    m_centre = dynamic_cast<CMyNotifyCenter*>(m_relay->GetNotifyCenter(kRelayKey));
    if (m_centre == nullptr) {
        m_ownCentre = std::make_unique<CMyNotifyCenter>();
        m_ownCentre->SetType(kRelayKey);
        m_centre = m_ownCentre.get();
    }
    m_centre->AddObserver(this);
    m_relay->UpdateNotifyCenter(kRelayKey, m_centre);
}

CProgressNotify::~CProgressNotify() {
    m_centre->RemoveObserver(this);
    // Once the relay has let go of the key no delivery is running in the
    // centre (the relay delivers under its lock), so ours can go.
    m_relay->UnregisterNotifyCenter(kRelayKey);
}

void CProgressNotify::Notify(int type, void*) {
    if (type != kEventSectorReadFailed)
        return;
    // Observers touch windows: they hear of it on the main thread, not on
    // the relay's.
    velmora::bridge::CurrentPoster()->Post([] {
        velmora::bridge::NotificationCentre::Default().Post(
            velmora::bridge::Notification{kNotificationName, nullptr});
    });
}
