// A control that owns child controls and lays them out in a box.
#include "toolkit/container.h"

#include <algorithm>
#include <array>

#include "toolkit/attribute_values.h"
#include "toolkit/blend.h"
#include "toolkit/paint_manager.h"

namespace skinui {
namespace {

// Positions stay within this bound so that differences of two fit an int.
constexpr long long COORDINATE_LIMIT = 1LL << 29;

int to_coordinate(long long value) {
    return static_cast<int>(std::clamp(value, -COORDINATE_LIMIT, COORDINATE_LIMIT));
}

box_align parse_align(std::wstring_view value, std::wstring_view center, std::wstring_view end) {
    if (value == center) return box_align::center;
    if (value == end) return box_align::end;
    return box_align::start;
}

// One box direction: the main axis along which children are stacked and the
// cross axis across it. The vertical box stacks along y.
struct box_axis {
    bool horizontal;

    int main_of(platform::size s) const { return horizontal ? s.cx : s.cy; }
    int fixed_main(const control& c) const { return horizontal ? c.fixed_width() : c.fixed_height(); }
    int fixed_cross(const control& c) const { return horizontal ? c.fixed_height() : c.fixed_width(); }
    int min_main(const control& c) const { return horizontal ? c.min_width() : c.min_height(); }
    int max_main(const control& c) const { return horizontal ? c.max_width() : c.max_height(); }
    int min_cross(const control& c) const { return horizontal ? c.min_height() : c.min_width(); }
    int max_cross(const control& c) const { return horizontal ? c.max_height() : c.max_width(); }
    int pad_main_before(const control& c) const { return horizontal ? c.padding().left : c.padding().top; }
    int pad_main_after(const control& c) const { return horizontal ? c.padding().right : c.padding().bottom; }
    int pad_cross_before(const control& c) const { return horizontal ? c.padding().top : c.padding().left; }
    int pad_cross_after(const control& c) const { return horizontal ? c.padding().bottom : c.padding().right; }
    int main_start(const rect& r) const { return horizontal ? r.left : r.top; }
    int cross_start(const rect& r) const { return horizontal ? r.top : r.left; }
    int cross_end(const rect& r) const { return horizontal ? r.bottom : r.right; }
    int main_extent(const rect& r) const { return horizontal ? r.width() : r.height(); }
    int cross_extent(const rect& r) const { return horizontal ? r.height() : r.width(); }
    platform::size make_size(int main, int cross) const {
        return horizontal ? platform::size{main, cross} : platform::size{cross, main};
    }
    rect make_rect(long long main0, long long main1, long long cross0, long long cross1) const {
        const int m0 = to_coordinate(main0), m1 = to_coordinate(main1);
        const int c0 = to_coordinate(cross0), c1 = to_coordinate(cross1);
        return horizontal ? rect{m0, c0, m1, c1} : rect{c0, m0, c1, m1};
    }
};

// What the first pass learns about one stacked child.
struct box_slot {
    control* child;
    int available_cross;  // cross room, capped at its fixed (or maximum) cross size
    int main;             // wanted main size; 0 while flexible
    bool flexible;
};

rect deflate(const rect& r, const rect& by) {
    rect inner{r.left + by.left, r.top + by.top, r.right - by.right, r.bottom - by.bottom};
    if (inner.right < inner.left) inner.right = inner.left;
    if (inner.bottom < inner.top) inner.bottom = inner.top;
    return inner;
}

// What the first pass learns about all stacked children.
struct box_plan {
    std::vector<box_slot> slots;
    long long fixed_part = 0;  // wanted sizes, paddings and gaps
    int flexible_count = 0;
};

// First pass: the wanted main size of every stacked child.
box_plan wanted_sizes(const std::vector<std::unique_ptr<control>>& children, const box_axis& ax, const rect& content,
                      int child_padding) {
    const int content_main = ax.main_extent(content);
    const int content_cross = ax.cross_extent(content);
    box_plan plan;
    for (const auto& owned : children) {
        control& child = *owned;
        if (!child.is_visible() || child.is_float()) continue;
        const int cross_cap = ax.fixed_cross(child) != 0 ? ax.fixed_cross(child) : ax.max_cross(child);
        const int main_cap = ax.fixed_main(child) != 0 ? ax.fixed_main(child) : ax.max_main(child);
        const int available_cross =
            std::min(content_cross - ax.pad_cross_before(child) - ax.pad_cross_after(child), cross_cap);
        const int available_main = std::min(content_main, main_cap);
        int wanted = 0;
        // A horizontal box never asks a child without fixed width.
        if (!ax.horizontal || ax.fixed_main(child) != 0) {
            wanted = ax.main_of(child.estimate_size(ax.make_size(available_main, available_cross)));
        }
        const bool flexible = wanted == 0;
        if (flexible) {
            ++plan.flexible_count;
        } else {
            wanted = std::clamp(wanted, ax.min_main(child), ax.max_main(child));
        }
        plan.fixed_part += static_cast<long long>(wanted) + ax.pad_main_before(child) + ax.pad_main_after(child);
        plan.slots.push_back({&child, available_cross, wanted, flexible});
    }
    if (plan.slots.size() > 1) plan.fixed_part += static_cast<long long>(child_padding) * (plan.slots.size() - 1);
    return plan;
}

// Second pass: flexible children share the rest; the last takes what is left.
void share_the_rest(box_plan& plan, const box_axis& ax, int content_main) {
    const long long rest = content_main - plan.fixed_part;
    const long long share = plan.flexible_count > 0 ? std::max(0LL, rest / plan.flexible_count) : 0;
    long long given = 0;
    int flexible_seen = 0;
    for (box_slot& slot : plan.slots) {
        if (!slot.flexible) continue;
        ++flexible_seen;
        const long long size = flexible_seen == plan.flexible_count ? std::max(0LL, rest - given) : share;
        slot.main = static_cast<int>(std::clamp<long long>(size, ax.min_main(*slot.child), ax.max_main(*slot.child)));
        given += slot.main;
    }
}

// Third pass: place the children along the main axis and across it.
void place_stacked(const box_plan& plan, const box_axis& ax, const rect& content, box_align align, int child_padding) {
    const int content_cross = ax.cross_extent(content);
    long long position = ax.main_start(content);
    for (const box_slot& slot : plan.slots) {
        control& child = *slot.child;
        const int pads = ax.pad_cross_before(child) + ax.pad_cross_after(child);
        int cross = ax.max_cross(child) == 0 ? content_cross - pads : ax.max_cross(child);
        cross = std::max(std::min(std::max(cross, 0), slot.available_cross), ax.min_cross(child));
        long long cross_start = ax.cross_start(content) + ax.pad_cross_before(child);
        if (align == box_align::center) cross_start = ax.cross_start(content) + (content_cross - cross) / 2;
        if (align == box_align::end)
            cross_start = static_cast<long long>(ax.cross_end(content)) - ax.pad_cross_after(child) - cross;
        position += ax.pad_main_before(child);
        child.set_pos(ax.make_rect(position, position + slot.main, cross_start, cross_start + cross), false);
        position += static_cast<long long>(slot.main) + ax.pad_main_after(child) + child_padding;
    }
}

}  // namespace

struct container_setters {
    static constexpr std::array<attribute_setter<container>, 4> table{{
        {L"inset", [](container& c, std::wstring_view v) { c.set_inset(parse_rect(v)); }},
        {L"childpadding", [](container& c, std::wstring_view v) { c.set_child_padding(parse_int(v)); }},
        {L"childalign",
         [](container& c, std::wstring_view v) {
             c.child_align_ = parse_align(v, L"center", L"right");
             c.need_update();
         }},
        {L"childvalign",
         [](container& c, std::wstring_view v) {
             c.child_valign_ = parse_align(v, L"vcenter", L"bottom");
             c.need_update();
         }},
    }};
};

bool container::add(std::unique_ptr<control> child) {
    if (!child) return false;
    if (manager_ != nullptr) manager_->init_controls(child.get(), this);
    children_.push_back(std::move(child));
    need_update();
    return true;
}

bool container::remove(control* child) {
    const auto found = std::find_if(children_.begin(), children_.end(),
                                    [child](const std::unique_ptr<control>& c) { return c.get() == child; });
    if (found == children_.end()) return false;
    children_.erase(found);
    need_update();
    return true;
}

control* container::child_at(std::size_t index) const {
    return index < children_.size() ? children_[index].get() : nullptr;
}

void container::set_inset(const platform::rect& inset) {
    inset_ = inset;
    need_update();
}

void container::set_child_padding(int padding) {
    child_padding_ = std::max(0, padding);
    need_update();
}

void container::set_manager(paint_manager* manager, control* parent, bool init) {
    for (const auto& child : children_) child->set_manager(manager, this, init);
    control::set_manager(manager, parent, init);
}

void container::set_attribute(std::wstring_view name, std::wstring_view value) {
    if (apply_attribute<container>(container_setters::table, *this, name, value)) return;
    control::set_attribute(name, value);
}

// A plain container lays every stacked child over its whole content area.
void container::set_pos(platform::rect rc, bool invalidate_now) {
    control::set_pos(rc, invalidate_now);
    const rect content = deflate(item_, inset_);
    for (const auto& child : children_) {
        if (child->is_visible() && !child->is_float()) child->set_pos(content, false);
    }
    place_floating_children();
}

void container::layout_box(axis main_axis) {
    const box_axis ax{main_axis == axis::horizontal};
    const rect content = deflate(item_, inset_);
    box_plan plan = wanted_sizes(children_, ax, content, child_padding_);
    share_the_rest(plan, ax, ax.main_extent(content));
    place_stacked(plan, ax, content, ax.horizontal ? child_valign_ : child_align_, child_padding_);
    place_floating_children();
}

// Floating children sit at their fixed position (plus the anchor fractions
// of the parent's size) in the parent's whole rectangle; the inset does not apply.
void container::place_floating_children() {
    const long long width = item_.width();
    const long long height = item_.height();
    for (const auto& child : children_) {
        if (!child->is_visible() || !child->is_float()) continue;
        const double* anchor = child->float_anchor();
        const platform::point xy = child->fixed_xy();
        const long long left = item_.left + static_cast<long long>(width * anchor[0]) + xy.x;
        const long long top = item_.top + static_cast<long long>(height * anchor[1]) + xy.y;
        const long long right = item_.left + static_cast<long long>(width * anchor[2]) + xy.x + child->fixed_width();
        const long long bottom = item_.top + static_cast<long long>(height * anchor[3]) + xy.y + child->fixed_height();
        child->set_pos({to_coordinate(left), to_coordinate(top), to_coordinate(right), to_coordinate(bottom)}, false);
    }
}

// Children are searched last to first, so the topmost, deepest control wins;
// a container that no child claims is itself the answer.
control* container::find_control(platform::point pt) {
    if (!is_visible() || !item_.contains(pt)) return nullptr;
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        if (control* found = (*it)->find_control(pt)) return found;
    }
    return this;
}

// The container paints itself, then its children in document order: stacked
// ones clipped to the area inside the inset, floating ones to the whole rectangle.
void container::paint(paint_target& target, const platform::rect& paint_rect) {
    const rect area = intersect(paint_rect, item_);
    if (area.empty()) return;
    const rect saved = target.clip;
    target.clip = intersect(saved, area);
    if (!target.clip.empty()) {
        do_paint(target, target.clip);
        const rect inside = intersect(area, deflate(item_, inset_));
        for (const auto& child : children_) {
            if (!child->is_visible()) continue;
            const rect child_area = child->is_float() ? area : inside;
            if (!child_area.empty()) child->paint(target, child_area);
        }
    }
    target.clip = saved;
}

}  // namespace skinui
