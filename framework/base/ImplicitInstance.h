#pragma once

#include <memory>
#include <vector>

namespace fw {

// The one object of class T among the objects of class Base that the layer holds: the one
// there is, or a new one, handed to the layer with `adopt` and then prepared with `made`.
template <class T, class Base, class Made>
T& oneInstance(const std::vector<Base*>& held, void (*adopt)(std::unique_ptr<Base>), Made made)
{
    for (Base* one : held) {
        if (auto* found = dynamic_cast<T*>(one))
            return *found;
    }
    auto fresh = std::make_unique<T>();
    T& instance = *fresh;
    adopt(std::move(fresh));
    made(instance);
    return instance;
}

}
