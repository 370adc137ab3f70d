#include "NotifyCenter.h"

#include "SearchInterfaces.h"

CNotifyCenter& CNotifyCenter::Instance() {
    static CNotifyCenter center;
    return center;
}

int CNotifyCenter::isContinue() const {
    return m_progress != nullptr ? m_progress->Continued() : 1;
}
