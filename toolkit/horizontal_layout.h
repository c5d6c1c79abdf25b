// A box that stacks its children horizontally.
#pragma once

#include "toolkit/container.h"

namespace skinui {

class horizontal_layout : public container {
public:
    std::wstring_view class_name() const override { return L"HorizontalLayout"; }
    void set_pos(platform::rect rc, bool invalidate = true) override;
};

}  // namespace skinui
