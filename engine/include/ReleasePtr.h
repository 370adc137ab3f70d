// Owning holder for engine objects that are freed through their own
// Release() rather than delete (devices, searchers, controllers, readers,
// trees). Use it wherever a function makes such an object and may leave
// early, so every path releases it exactly once.
#pragma once

#include <memory>

namespace vk {

struct ReleaseDeleter {
    template <typename T>
    void operator()(T* object) const {
        if (object != nullptr)
            object->Release();
    }
};

template <typename T>
using ReleasePtr = std::unique_ptr<T, ReleaseDeleter>;

template <typename T>
ReleasePtr<T> AdoptReleased(T* object) {
    return ReleasePtr<T>(object);
}

}  // namespace vk
