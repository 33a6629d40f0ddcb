#pragma once
// Hands each control the window creates from its layout table to the window member of the same
// name, checked: an entry whose name no member has, an entry of another kind than its member, a
// single control given twice, or a member that no entry reaches stops the window's construction
// with the name. A misspelt table entry would otherwise bind quietly to the wrong control, or to
// none, and show up only as a handler that does nothing.

#include "control_array.h"

#include <QWidget>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnovid {

class ControlBinding {
public:
    // A control array member: takes every entry of its name, each with its own index.
    template <class Control> void member(ControlArray<Control>& array) {
        slot(array.name(), [&array](int index, QWidget* control) {
            auto* typed = qobject_cast<Control*>(control);
            if (typed == nullptr || index < 0 || array.contains(index))
                return false;
            array.add(index, typed);
            return true;
        });
    }
    // A single control member: takes exactly one entry of its name, without an index.
    template <class Control> void member(std::string_view name, Control*& single, int noIndex) {
        slot(std::string(name), [&single, noIndex](int index, QWidget* control) {
            auto* typed = qobject_cast<Control*>(control);
            if (typed == nullptr || index != noIndex || single != nullptr)
                return false;
            single = typed;
            return true;
        });
    }
    // Controls that no handler uses: created and named like any other (tests find them by object
    // name), held by no member.
    void unheld(std::string_view name);

    // Throws std::logic_error naming the entry when it fits no member.
    void bind(std::string_view name, int index, QWidget* control);
    // Throws std::logic_error naming the first member or unheld name that got no entry.
    void checkComplete() const;

private:
    using Slot = std::function<bool(int index, QWidget* control)>;
    void slot(std::string name, Slot take);

    std::map<std::string, Slot, std::less<>> slots_;
    std::set<std::string, std::less<>> reached_;
};

} // namespace tarnovid
