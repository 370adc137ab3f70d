#include "VKUIFilter.h"

VKUIFilter& VKUIFilter::instance() {
    static VKUIFilter one;
    return one;
}

VKUIFilter::VKUIFilter(Factory create) : m_create(std::move(create)) {
    if (m_create)
        m_filter = m_create();
}

VKUIFilter::~VKUIFilter() {
    if (m_filter != nullptr)
        m_filter->Release();
}

void VKUIFilter::ResetFilter(unsigned mask) {
    if (m_filter == nullptr && m_create)
        m_filter = m_create();
    if (m_filter != nullptr)
        m_filter->SetFilterTypes(mask);
}
