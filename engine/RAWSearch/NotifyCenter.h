// The progress sink that the signature search and the analysers poll while
// a deep scan runs: sizing a file may read far, and a stop must reach it.
#pragma once

class IProgress;

class CNotifyCenter {
public:
    static CNotifyCenter& Instance();
    void SetProgress(IProgress* progress) { m_progress = progress; }
    // The sink's Continued() answer; 1 when no sink is set.
    int isContinue() const;
    void Reset() { m_progress = nullptr; }

private:
    CNotifyCenter() = default;
    IProgress* m_progress = nullptr;
};
