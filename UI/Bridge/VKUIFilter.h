// Holds the one file-category filter every scan hands to its controller; the
// wizard's choice of categories reaches the engine through it.
#pragma once

#include <functional>

#include "IRecoveryFilter.h"

class VKUIFilter {
public:
    using Factory = std::function<IRecoveryFilter*()>;

    static VKUIFilter& instance();
    // Makes the filter with `create` (the engine's CreateFilter by default).
    explicit VKUIFilter(Factory create = &CreateFilter);
    virtual ~VKUIFilter();
    VKUIFilter(const VKUIFilter&) = delete;
    VKUIFilter& operator=(const VKUIFilter&) = delete;

    // Null when it could not be made.
    IRecoveryFilter* GetFilter() const { return m_filter; }
    // Tries again to make a filter when there is none, then gives it the
    // category mask.
    void ResetFilter(unsigned mask);

private:
    Factory m_create;
    IRecoveryFilter* m_filter = nullptr;
};
