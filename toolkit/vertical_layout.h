// A box that stacks its children vertically.
#pragma once

#include "toolkit/container.h"

namespace skinui {

class vertical_layout : public container {
public:
    std::wstring_view class_name() const override { return L"VerticalLayout"; }
    void set_pos(platform::rect rc, bool invalidate = true) override;
};

}  // namespace skinui
