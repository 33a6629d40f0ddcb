#include "control_binding.h"

namespace tarnovid {

namespace {

std::string entryName(std::string_view name, int index) {
    std::string entry(name);
    if (index >= 0)
        entry += "(" + std::to_string(index) + ")";
    return entry;
}

} // namespace

void ControlBinding::slot(std::string name, Slot take) {
    if (!slots_.emplace(name, std::move(take)).second)
        throw std::logic_error("window member " + name + " is declared twice");
}

void ControlBinding::unheld(std::string_view name) {
    slot(std::string(name), [](int, QWidget*) { return true; });
}

void ControlBinding::bind(std::string_view name, int index, QWidget* control) {
    const auto it = slots_.find(name);
    if (it == slots_.end())
        throw std::logic_error("layout entry " + entryName(name, index) +
                               " names no control of the window");
    if (!it->second(index, control))
        throw std::logic_error(
            "layout entry " + entryName(name, index) +
            " does not fit its member: another kind, a bad index or given twice");
    reached_.insert(it->first);
}

void ControlBinding::checkComplete() const {
    for (const auto& [name, take] : slots_)
        if (!reached_.contains(name))
            throw std::logic_error("control " + name + " of the window has no layout entry");
}

} // namespace tarnovid
