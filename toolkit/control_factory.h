// The registry of control classes: element name -> factory.
#pragma once

#include <memory>
#include <string_view>

#include "toolkit/control.h"

namespace skinui {

// The control for an element name (compared ignoring case), or null when
// the name names no class.
std::unique_ptr<control> create_control(std::wstring_view element_name);

}  // namespace skinui
