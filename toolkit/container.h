// A control that owns child controls and lays them out in a box.
#pragma once

#include <memory>
#include <vector>

#include "toolkit/control.h"

namespace skinui {

enum class box_align { start, center, end };

class container : public control {
public:
    std::wstring_view class_name() const override { return L"Container"; }
    container* as_container() override { return this; }

    // Takes ownership; false (the child is destroyed) for a null child.
    bool add(std::unique_ptr<control> child);
    // Destroys the child; false when it is not ours.
    bool remove(control* child);
    std::size_t count() const { return children_.size(); }
    control* child_at(std::size_t index) const;

    const platform::rect& inset() const { return inset_; }
    void set_inset(const platform::rect& inset);
    int child_padding() const { return child_padding_; }
    void set_child_padding(int padding);  // negative values count as 0
    box_align child_align() const { return child_align_; }
    box_align child_valign() const { return child_valign_; }

    void set_manager(paint_manager* manager, control* parent, bool init) override;
    void set_attribute(std::wstring_view name, std::wstring_view value) override;
    void set_pos(platform::rect rc, bool invalidate = true) override;
    control* find_control(platform::point pt) override;
    void paint(paint_target& target, const platform::rect& paint_rect) override;

protected:
    enum class axis { vertical, horizontal };
    // The box layout of vertical and horizontal boxes, written once on a
    // main axis and a cross axis.
    void layout_box(axis main_axis);
    void place_floating_children();

private:
    friend struct container_setters;
    std::vector<std::unique_ptr<control>> children_;
    platform::rect inset_;
    int child_padding_ = 0;
    box_align child_align_ = box_align::start;
    box_align child_valign_ = box_align::start;
};

}  // namespace skinui
