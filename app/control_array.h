#pragma once
// Controls that share a name are told apart by an index that need not start at 0 or be
// contiguous (the bit captions use 0..7 and 17..19). Asking for a missing index is an error, not
// undefined behaviour.

#include <map>
#include <stdexcept>
#include <string>

namespace tarnovid {

template <class Control> class ControlArray {
public:
    explicit ControlArray(std::string name)
        : name_(std::move(name)) {}

    Control* operator()(int index) const {
        auto it = items_.find(index);
        if (it == items_.end())
            throw std::out_of_range(name_ + "(" + std::to_string(index) + ") does not exist");
        return it->second;
    }
    void add(int index, Control* control) { items_[index] = control; }
    bool contains(int index) const { return items_.count(index) != 0; }
    std::size_t size() const { return items_.size(); }
    const std::string& name() const { return name_; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::string name_;
    std::map<int, Control*> items_;
};

} // namespace tarnovid
