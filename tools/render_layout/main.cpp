// Renders a layout of the skin off-screen, at the window size the layout
// gives, into a PNG; with --rects it also prints every control's rectangle:
//   render_layout skin/UpdateWnd.xml out.png [--rects]
//   render_layout UpdateWnd.xml out.png          (from the linked-in archive)
// A LAYOUT that names an existing file is read with its folder as the
// resource path (images come from the same folder); a bare name that is no
// file is read from the skin archive linked into the program.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/text.h"
#include "skin/resource_table.h"
#include "toolkit/container.h"
#include "toolkit/control.h"
#include "toolkit/layout_builder.h"
#include "toolkit/paint_manager.h"
#include "toolkit/skin_resources.h"
#include "tools/render_layout/png_output.h"

namespace {

namespace fs = std::filesystem;

// Chooses where the skin comes from; returns the layout's file name.
std::wstring select_skin_source(const std::string& layout) {
    std::error_code error;
    if (fs::is_regular_file(layout, error)) {
        fs::path path = fs::absolute(layout, error);
        skinui::set_resource_path(platform::utf8_to_wide(path.parent_path().string()));
        return platform::utf8_to_wide(path.filename().string());
    }
    auto archive = find_resource(SKIN_RESOURCE_TYPE, SKIN_RESOURCE_ID);
    skinui::set_resource_zip(archive.data(), archive.size());
    return platform::utf8_to_wide(layout);
}

// One line per control in document order: node number, class, name, rectangle.
void print_rects(skinui::control* control, const std::string& node) {
    const platform::rect& r = control->pos();
    std::string name = control->name().empty() ? "-" : platform::wide_to_utf8(control->name());
    std::printf("%s %s %s %d,%d,%d,%d\n", node.c_str(), platform::wide_to_utf8(control->class_name()).c_str(),
                name.c_str(), r.left, r.top, r.right, r.bottom);
    if (skinui::container* box = control->as_container()) {
        for (std::size_t i = 0; i < box->count(); ++i)
            print_rects(box->child_at(i), node + "." + std::to_string(i + 1));
    }
}

int usage() {
    std::fprintf(stderr, "usage: render_layout LAYOUT.xml OUT.png [--rects]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) return usage();
    bool rects = argc == 4 && std::string(argv[3]) == "--rects";
    if (argc == 4 && !rects) return usage();

    std::wstring file = select_skin_source(argv[1]);
    skinui::paint_manager manager;
    skinui::layout_builder builder;
    std::unique_ptr<skinui::control> root = builder.create(file, manager);
    if (!root) {
        std::fprintf(stderr, "render_layout: cannot build %s: %s\n", argv[1],
                     platform::wide_to_utf8(builder.last_error()).c_str());
        return 1;
    }
    skinui::control* tree = root.get();
    manager.attach_dialog(std::move(root));
    platform::size size = manager.initial_size();
    if (size.cx <= 0 || size.cy <= 0 || size.cx > 4096 || size.cy > 4096) {
        std::fprintf(stderr, "render_layout: the layout gives no usable window size (%d x %d)\n", size.cx, size.cy);
        return 1;
    }
    tree->set_pos({0, 0, size.cx, size.cy}, false);

    // Painted as the window paints: opaque black first, then the tree.
    skinui::surface image;
    image.resize(size.cx, size.cy);
    for (skinui::pixel& p : image.pixels) p = 0xFF000000;
    skinui::paint_target target{image, image.bounds()};
    tree->paint(target, image.bounds());
    if (!render_layout::write_surface_png(image, argv[2])) {
        std::fprintf(stderr, "render_layout: cannot write %s\n", argv[2]);
        return 1;
    }
    if (rects) print_rects(tree, "1");
    return 0;
}
