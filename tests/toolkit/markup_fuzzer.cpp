// libFuzzer entry: any bytes as a layout file, parsed and built.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/text.h"
#include "toolkit/control.h"
#include "toolkit/layout_builder.h"
#include "toolkit/markup.h"
#include "toolkit/paint_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    skinui::markup doc;
    doc.load_utf8(bytes);
    std::wstring text = platform::utf8_to_wide(bytes);
    if (text.empty() || text.front() != L'<') return 0;
    skinui::paint_manager manager;
    skinui::layout_builder builder;
    std::unique_ptr<skinui::control> root = builder.create(text, manager);
    if (root) root->set_pos({0, 0, 586, 280}, false);
    return 0;
}
