// Builds a window's control tree, fonts and window attributes from layout
// markup.
#include "toolkit/layout_builder.h"

#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/text.h"
#include "toolkit/attribute_values.h"
#include "toolkit/container.h"
#include "toolkit/control_factory.h"
#include "toolkit/paint_manager.h"
#include "toolkit/skin_resources.h"

namespace skinui {
namespace {

constexpr std::wstring_view RESOURCE_ELEMENTS[] = {L"Font", L"Image", L"Default", L"MultiLanguage"};

bool is_resource_element(std::wstring_view name) {
    for (std::wstring_view resource : RESOURCE_ELEMENTS) {
        if (equals_ignore_case(resource, name)) return true;
    }
    return false;
}

void log_line(std::wstring_view text) {
    platform::debug_output(L"[TamsaUpdate]: " + std::wstring(text));
}

}  // namespace

void layout_builder::fail(std::wstring message) {
    error_ = std::move(message);
    log_line(error_);
}

std::unique_ptr<control> layout_builder::create(std::wstring_view layout, paint_manager& manager,
                                                builder_callback* callback) {
    error_.clear();
    if (!load(layout)) return nullptr;
    return build_document(manager, callback);
}

// A layout held as a resource of the resource module, by type and integer id.
std::unique_ptr<control> layout_builder::create(int resource_id, std::string_view resource_type, paint_manager& manager,
                                                builder_callback* callback) {
    error_.clear();
    const paint_manager::resource_lookup module = paint_manager::resource_module();
    const std::span<const std::uint8_t> bytes =
        module ? module(resource_type, resource_id) : std::span<const std::uint8_t>{};
    if (bytes.empty()) {
        fail(L"layout resource " + std::to_wstring(resource_id) + L" not found");
        return nullptr;
    }
    if (!markup_.load_utf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
        fail(L"layout parse error: " + markup_.last_error_message() + L" at \"" + markup_.last_error_location() +
             L"\"");
        return nullptr;
    }
    return build_document(manager, callback);
}

std::unique_ptr<control> layout_builder::build_document(paint_manager& manager, builder_callback* callback) {
    const markup_node window = markup_.root();
    if (!equals_ignore_case(window.name(), L"Window")) {
        fail(L"layout root is <" + std::wstring(window.name()) + L">, not <Window>");
        return nullptr;
    }
    apply_resources(window, manager);
    // Window attributes in file order.
    for (std::size_t i = 0; i < window.attribute_count(); ++i) {
        manager.set_window_attribute(window.attribute_name(i), window.attribute_value(i));
    }
    std::unique_ptr<control> root = build(window.child(), nullptr, manager, callback);
    if (!root) fail(L"layout has no control");
    return root;
}

bool layout_builder::load(std::wstring_view layout) {
    bool parsed = false;
    if (!layout.empty() && layout.front() == L'<') {
        parsed = markup_.load(layout);
    } else {
        std::vector<std::uint8_t> bytes;
        std::string error;
        if (!load_skin_file(std::wstring(layout), bytes, error)) {
            fail(L"layout " + std::wstring(layout) + L": " + platform::utf8_to_wide(error));
            return false;
        }
        parsed = markup_.load_utf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    if (!parsed) {
        fail(L"layout parse error: " + markup_.last_error_message() + L" at \"" + markup_.last_error_location() +
             L"\"");
    }
    return parsed;
}

// Fonts and default attribute lists; Image and MultiLanguage are not used.
void layout_builder::apply_resources(markup_node window, paint_manager& manager) {
    for (markup_node node = window.child(); node.is_valid(); node = node.sibling()) {
        if (equals_ignore_case(node.name(), L"Font")) {
            add_font(node, manager);
        } else if (equals_ignore_case(node.name(), L"Default")) {
            const std::wstring_view name = node.attribute_value(L"name");
            if (!name.empty()) manager.add_default_attribute_list(name, node.attribute_value(L"value"));
        }
    }
}

void layout_builder::add_font(markup_node font, paint_manager& manager) {
    int id = -1;
    std::wstring face;
    int size = 12;
    bool bold = false, underline = false, italic = false, is_default = false;
    for (std::size_t i = 0; i < font.attribute_count(); ++i) {
        const std::wstring_view name = font.attribute_name(i);
        const std::wstring_view value = font.attribute_value(i);
        if (name == L"id") id = parse_int(value);
        if (name == L"name") face = value;
        if (name == L"size") size = parse_int(value);
        if (name == L"bold") bold = parse_bool(value);
        if (name == L"underline") underline = parse_bool(value);
        if (name == L"italic") italic = parse_bool(value);
        if (name == L"default") is_default = parse_bool(value);
        // "shared" is accepted: fonts are never shared between windows here.
    }
    if (id < 0 || face.empty()) {
        log_line(L"layout font without a valid id or name skipped");
        return;
    }
    manager.add_font(id, face, size, bold, underline, italic);
    if (is_default) manager.set_default_font(id);
}

std::unique_ptr<control> layout_builder::make(std::wstring_view element, builder_callback* callback) {
    std::unique_ptr<control> made = create_control(element);
    if (!made && callback != nullptr) made = callback->create_control(element);
    if (!made) log_line(L"layout element <" + std::wstring(element) + L"> names no control; skipped");
    return made;
}

std::unique_ptr<control> layout_builder::build(markup_node node, control* parent, paint_manager& manager,
                                               builder_callback* callback) {
    std::unique_ptr<control> first;
    for (; node.is_valid(); node = node.sibling()) {
        if (is_resource_element(node.name())) continue;
        std::unique_ptr<control> owned = make(node.name(), callback);
        if (!owned) continue;
        control* made = owned.get();
        // Children first, so that a box knows them when its attributes apply.
        if (node.has_children()) {
            if (made->as_container() != nullptr) {
                build(node.child(), made, manager, callback);
            } else {
                log_line(L"layout element <" + std::wstring(node.name()) + L"> cannot hold children; they are skipped");
            }
        }
        if (parent != nullptr) {
            if (!parent->as_container()->add(std::move(owned))) continue;
        } else if (!first) {
            first = std::move(owned);
        } else {
            log_line(L"layout has a second top-level control <" + std::wstring(node.name()) + L">; skipped");
            continue;  // destroyed here: only the first top-level control is the root
        }
        // The manager is lent while the attributes apply, then withdrawn.
        made->set_manager(&manager, parent, false);
        const std::wstring_view defaults = manager.default_attribute_list(node.name());
        if (!defaults.empty()) made->apply_attribute_list(defaults);
        for (std::size_t i = 0; i < node.attribute_count(); ++i) {
            made->set_attribute(node.attribute_name(i), node.attribute_value(i));
        }
        made->set_manager(nullptr, parent, false);
    }
    return first;
}

}  // namespace skinui
