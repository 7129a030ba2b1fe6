#include "app/run/PageInputs.h"

#include "engine/CodePage.h"

namespace fieldsmith::run {

namespace {

// Finds the named member of one page's inputs and sets it; radio buttons of the same group
// are cleared in a second pass once the group is known.
struct InputSetter {
    std::string_view control;
    std::string_view value;
    int codePage = 1252;
    SetInputResult result = SetInputResult::UnknownControl;
    std::string_view selectedGroup; //!< set when a radio button was set to 1

    static bool parseFlag(std::string_view v, bool& out) {
        if (v == "1") return out = true, true;
        if (v == "0") return out = false, true;
        return false;
    }
    void text(std::string_view name, std::string& member) {
        if (name != control) return;
        // Values come as UTF-8; the program works in its code page.
        member = engine::fromUtf8(std::string(value), codePage);
        result = SetInputResult::Ok;
    }
    void name(std::string_view name, std::string& member) {
        if (name != control) return;
        member.assign(value); // names stay as the file system spells them
        result = SetInputResult::Ok;
    }
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
    void name(std::string_view, std::string&) {}
    void check(std::string_view, bool&) {}
    void radio(std::string_view name, std::string_view g, bool& member) {
        if (g == group && name != keep) member = false;
    }
};

} // namespace

SetInputResult setInput(PageInputs& inputs, std::string_view page, std::string_view control,
                        std::string_view value, int codePage) {
    SetInputResult result = SetInputResult::UnknownControl;
    inputs.withPage(page, [&](auto& pageInputs) {
        InputSetter setter{control, value, codePage, SetInputResult::UnknownControl, {}};
        pageInputs.visit(setter);
        result = setter.result;
        if (!setter.selectedGroup.empty())
            pageInputs.visit(GroupClearer{control, setter.selectedGroup});
    });
    return result;
}

} // namespace fieldsmith::run
