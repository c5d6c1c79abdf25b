// Builds a window's control tree, fonts and window attributes from layout
// markup.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "toolkit/control.h"
#include "toolkit/markup.h"

namespace skinui {

class paint_manager;

// Makes controls for element names that the toolkit does not know.
class builder_callback {
public:
    virtual ~builder_callback() = default;
    virtual std::unique_ptr<control> create_control(std::wstring_view element_name) = 0;
};

class layout_builder {
public:
    // layout: markup text when it begins with "<", else the name of a skin
    // file (read with load_skin_file). Returns the root control (the first
    // control at the top level), or null when the layout cannot be read or
    // parsed or has no Window root; the reason is in last_error().
    std::unique_ptr<control> create(std::wstring_view layout, paint_manager& manager,
                                    builder_callback* callback = nullptr);

    // A layout held as a resource (type and integer id) of the resource
    // module that paint_manager::set_resource_module names.
    std::unique_ptr<control> create(int resource_id, std::string_view resource_type, paint_manager& manager,
                                    builder_callback* callback = nullptr);

    const markup& document() const { return markup_; }
    const std::wstring& last_error() const { return error_; }

private:
    bool load(std::wstring_view layout);
    std::unique_ptr<control> build_document(paint_manager& manager, builder_callback* callback);
    void apply_resources(markup_node window, paint_manager& manager);
    void add_font(markup_node font, paint_manager& manager);
    // Builds the controls of node and its siblings into parent (which owns
    // them); without a parent, the first one built is returned.
    std::unique_ptr<control> build(markup_node node, control* parent, paint_manager& manager,
                                   builder_callback* callback);
    std::unique_ptr<control> make(std::wstring_view element, builder_callback* callback);
    void fail(std::wstring message);

    markup markup_;
    std::wstring error_;
};

}  // namespace skinui
