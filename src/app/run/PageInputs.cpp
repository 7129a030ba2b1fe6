#include "app/run/PageInputs.h"

namespace fieldsmith::run {

namespace {

// Finds the named member of one page's inputs and sets it; radio buttons of the same group
// are cleared in a second pass once the group is known.
struct InputSetter {
    std::string_view control;
    std::string_view value;
    SetInputResult result = SetInputResult::UnknownControl;
    std::string_view selectedGroup; //!< set when a radio button was set to 1

    static bool parseFlag(std::string_view v, bool& out) {
        if (v == "1") return out = true, true;
        if (v == "0") return out = false, true;
        return false;
    }
    void text(std::string_view name, std::string& member) {
        if (name != control) return;
        member.assign(value);
        result = SetInputResult::Ok;
    }
    void path(std::string_view name, std::string& member) { text(name, member); }
    void check(std::string_view name, bool& member) {
        if (name != control) return;
        result = parseFlag(value, member) ? SetInputResult::Ok : SetInputResult::BadValue;
    }
    void radio(std::string_view name, std::string_view group, bool& member) {
        if (name != control) return;
        result = parseFlag(value, member) ? SetInputResult::Ok : SetInputResult::BadValue;
        if (result == SetInputResult::Ok && member) selectedGroup = group;
    }
};

struct GroupClearer {
    std::string_view keep;
    std::string_view group;
    void text(std::string_view, std::string&) {}
    void path(std::string_view, std::string&) {}
    void check(std::string_view, bool&) {}
    void radio(std::string_view name, std::string_view g, bool& member) {
        if (g == group && name != keep) member = false;
    }
};

struct PathFinder {
    std::string_view control;
    bool found = false;
    void text(std::string_view, std::string&) {}
    void path(std::string_view name, std::string&) { found = found || name == control; }
    void check(std::string_view, bool&) {}
    void radio(std::string_view, std::string_view, bool&) {}
};

} // namespace

SetInputResult setInput(PageInputs& inputs, std::string_view page, std::string_view control,
                        std::string_view value) {
    SetInputResult result = SetInputResult::UnknownControl;
    inputs.withPage(page, [&](auto& pageInputs) {
        InputSetter setter{control, value, SetInputResult::UnknownControl, {}};
        pageInputs.visit(setter);
        result = setter.result;
        if (!setter.selectedGroup.empty())
            pageInputs.visit(GroupClearer{control, setter.selectedGroup});
    });
    return result;
}

bool isPathInput(PageInputs& inputs, std::string_view page, std::string_view control) {
    PathFinder finder{control};
    inputs.withPage(page, [&](auto& pageInputs) { pageInputs.visit(finder); });
    return finder.found;
}

} // namespace fieldsmith::run
