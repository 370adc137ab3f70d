// The progress sink that the signature search and the analysers poll while
// a deep scan runs: sizing a file may read far, and a stop must reach it.
//
// While the search looks at blocks on a thread of its own, that thread does
// not call the sink (which belongs to the scan's thread): the scan's thread
// asks the sink and relays the answer (Refresh), and isContinue gives the
// answer last relayed.
#pragma once

#include <atomic>

class IProgress;

class CNotifyCenter {
public:
    static CNotifyCenter& Instance();
    void SetProgress(IProgress* progress) { m_progress = progress; }
    // The sink's Continued() answer; 1 when no sink is set. While relaying,
    // the answer the scan's thread last relayed.
    int isContinue() const;
    void Reset() { m_progress = nullptr; }

    // Relaying on (after one Refresh) or off; called on the scan's thread.
    void SetRelay(bool on);
    // Asks the sink on the scan's thread and relays its answer; returns it.
    int Refresh();

private:
    CNotifyCenter() = default;
    IProgress* m_progress = nullptr;
    std::atomic<bool> m_relay{false};
    std::atomic<int> m_relayed{1};
};
