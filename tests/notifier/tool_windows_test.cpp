// SPDX-License-Identifier: GPL-3.0-or-later
// The setup and option programs' windows on a real X display: the frame hints they give the window manager offer
// no box that enlarges or iconises them (their size is fixed), so that no window manager shows a maximize box that
// does nothing.

#include "tests/notifier/harness.h"

#include "kd5_version.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    xcb_atom_t a = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

std::vector<std::uint32_t> property_words(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property) {
    std::vector<std::uint32_t> words;
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, XCB_ATOM_ANY, 0, 16), nullptr);
    if (reply != nullptr && reply->format == 32) {
        auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        words.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return words;
}

std::string window_name(xcb_connection_t* c, xcb_window_t w) {
    std::string name;
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 256), nullptr);
    if (reply != nullptr && reply->format == 8) {
        name.assign(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    }
    std::free(reply);
    return name;
}

// The Motif hints of the mapped top-level window of that title, once it is there. One connection asks again and
// again: a new connection at every look would fill the server's client slots and shut the tool out.
std::optional<std::vector<std::uint32_t>> frame_hints(xcb_connection_t* c, const std::string& title) {
    std::optional<std::vector<std::uint32_t>> hints;
    const xcb_atom_t motif = atom(c, "_MOTIF_WM_HINTS");
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (tree == nullptr) {
        return hints;
    }
    xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !hints; ++i) {
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
        const bool mapped = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (mapped && window_name(c, children[i]) == title) {
            hints = property_words(c, children[i], motif);
        }
    }
    std::free(tree);
    return hints;
}

TEST(ToolWindows, OfferNoBoxThatEnlargesOrIconisesThem) {
    constexpr std::uint32_t kFunctionsCount = 1, kDecorationsCount = 2;
    constexpr std::uint32_t kFunctionResize = 2, kFunctionMinimize = 8, kFunctionMaximize = 16, kFunctionClose = 32;
    constexpr std::uint32_t kDecorResizeHandles = 4, kDecorMinimize = 32, kDecorMaximize = 64;
    struct Row {
        const char* binary;
        const char* title;
        bool close_box;
    };
    const Row rows[] = {
        {KD5LITE_AP_BINARY, "corvo KD-5 lite application ver" KD5_VERSION " Chinese", true},
        {KD5LITE_OP_BINARY, "corvo KD-5 lite option ver" KD5_VERSION " Chinese", true},
    };
    TempCorvo dir;
    VirtualDisplay display(dir);
    ASSERT_FALSE(display.name().empty()) << dir.read("xvfb.out");
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> connection(
        xcb_connect(display.name().c_str(), nullptr), xcb_disconnect);
    xcb_connection_t* c = connection.get();
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.title);
        ChildProcess tool({row.binary}, {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.name()}},
                          dir.path(std::filesystem::path(row.binary).filename().string() + ".out"));
        std::optional<std::vector<std::uint32_t>> hints;
        const bool shown = wait_until([&] { return (hints = frame_hints(c, row.title)).has_value(); }, kPatience);
        ASSERT_TRUE(shown) << tool.output();
        ASSERT_EQ(hints->size(), 5u);
        const std::uint32_t counted = (*hints)[0], functions = (*hints)[1], decorations = (*hints)[2];
        // Without the functions counted, the window manager offers them all, maximize among them.
        EXPECT_EQ(counted & (kFunctionsCount | kDecorationsCount), kFunctionsCount | kDecorationsCount);
        EXPECT_EQ(functions & (kFunctionResize | kFunctionMinimize | kFunctionMaximize), 0u) << functions;
        EXPECT_EQ(decorations & (kDecorResizeHandles | kDecorMinimize | kDecorMaximize), 0u) << decorations;
        EXPECT_EQ((functions & kFunctionClose) != 0, row.close_box) << functions;
    }
}

} // namespace
