#include "NotifyCenter.h"

#include "SearchInterfaces.h"

CNotifyCenter& CNotifyCenter::Instance() {
    static CNotifyCenter center;
    return center;
}

int CNotifyCenter::isContinue() const {
    if (m_relay.load(std::memory_order_acquire))
        return m_relayed.load(std::memory_order_acquire);
    return m_progress != nullptr ? m_progress->Continued() : 1;
}

void CNotifyCenter::SetRelay(bool on) {
    if (on)
        Refresh();
    m_relay.store(on, std::memory_order_release);
}

int CNotifyCenter::Refresh() {
    const int answer = m_progress != nullptr ? m_progress->Continued() : 1;
    m_relayed.store(answer, std::memory_order_release);
    return answer;
}
