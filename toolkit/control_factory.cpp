// The registry of control classes: element name -> factory.
#include "toolkit/control_factory.h"

#include "toolkit/attribute_values.h"
#include "toolkit/button.h"
#include "toolkit/horizontal_layout.h"
#include "toolkit/label.h"
#include "toolkit/progress.h"
#include "toolkit/text_block.h"
#include "toolkit/vertical_layout.h"

namespace skinui {
namespace {

struct control_class {
    std::wstring_view element;
    std::unique_ptr<control> (*make)();
};

template <class T>
std::unique_ptr<control> make_control() {
    return std::make_unique<T>();
}

constexpr control_class CONTROL_CLASSES[] = {
    {L"Control", &make_control<control>},
    {L"VerticalLayout", &make_control<vertical_layout>},
    {L"HorizontalLayout", &make_control<horizontal_layout>},
    {L"Label", &make_control<label>},
    {L"Button", &make_control<button>},
    {L"Text", &make_control<text_block>},
    {L"Progress", &make_control<progress>},
};

}  // namespace

std::unique_ptr<control> create_control(std::wstring_view element_name) {
    for (const control_class& entry : CONTROL_CLASSES) {
        if (equals_ignore_case(entry.element, element_name)) return entry.make();
    }
    return nullptr;
}

}  // namespace skinui
