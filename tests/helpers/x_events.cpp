// Records how top-level windows come and go on an X display: every window created at the root
// (a client before the window manager reparents it, or a frame) is watched from then on, and
// each Map, Unmap, Reparent and Destroy of such a window is printed on a line of its own:
//   map WINDOW / unmap WINDOW / reparent WINDOW PARENT / destroy WINDOW
// After watching starts, a window's current state is printed as "mapped" or "unmapped", and its
// parent as a reparent when it is no longer the root, so an event that came before the watch
// took effect is never missed. "ready" says the root is watched.
// `x_events geometry WINDOW` prints the window's place on the screen and size, "X Y WIDTH
// HEIGHT", and ends with 0; with 2 when there is no such window, 1 on any other failure.
// `x_events screenshot` writes what the screen shows as a binary PPM picture.
// `x_events changes Y...` watches the screen's rows at those heights, every 5 ms, and prints
// "changed EARLIEST LATEST" when one has changed: the span in which it did, in seconds of
// CLOCK_MONOTONIC (Python's time.monotonic()).
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

void watch(xcb_connection_t* c, xcb_window_t root, xcb_window_t window)
{
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    // Answered after the change above took effect: later changes arrive as events.
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr), &std::free);
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr), &std::free);
    if (tree && tree->parent != root)
        std::printf("reparent %u %u\n", window, tree->parent);
    if (attributes)
        std::printf("%s %u\n", attributes->map_state == XCB_MAP_STATE_UNMAPPED ? "unmapped" : "mapped", window);
    std::fflush(stdout);
}

int geometry(xcb_connection_t* c, xcb_window_t root, xcb_window_t window)
{
    xcb_generic_error_t* error = nullptr;
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> size(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), &error), &std::free);
    std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> place(
        size ? xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, root, 0, 0), &error) : nullptr,
        &std::free);
    if (!place) {
        const int status = error && (error->error_code == XCB_WINDOW || error->error_code == XCB_DRAWABLE) ? 2 : 1;
        std::fprintf(stderr, "x_events: no geometry for window %u (X error %d)\n", window, error ? error->error_code : 0);
        std::free(error);
        return status;
    }
    std::printf("%d %d %u %u\n", place->dst_x, place->dst_y, size->width, size->height);
    return 0;
}

}

int screenshot(xcb_connection_t* c, const xcb_screen_t& screen)
{
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(xcb_get_image_reply(c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen.root, 0, 0, screen.width_in_pixels, screen.height_in_pixels, ~0u),
        nullptr), &std::free);
    const size_t pixels = size_t(screen.width_in_pixels) * screen.height_in_pixels;
    // 32 bits a pixel, blue first: what Xvfb and the dummy driver give at depth 24.
    if (!image || xcb_get_setup(c)->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST
        || size_t(xcb_get_image_data_length(image.get())) != 4 * pixels) {
        std::fprintf(stderr, "x_events: no screenshot in the expected format\n");
        return 1;
    }
    std::vector<uint8_t> rgb(3 * pixels);
    const uint8_t* data = xcb_get_image_data(image.get());
    for (size_t i = 0; i < pixels; ++i)
        rgb[3 * i] = data[4 * i + 2], rgb[3 * i + 1] = data[4 * i + 1], rgb[3 * i + 2] = data[4 * i];
    std::printf("P6 %u %u 255\n", screen.width_in_pixels, screen.height_in_pixels);
    return std::fwrite(rgb.data(), 1, rgb.size(), stdout) == rgb.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

double now()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int changes(xcb_connection_t* c, const xcb_screen_t& screen, const std::vector<int>& rows)
{
    std::vector<std::string> seen(rows.size());
    for (double before = now();;) {
        const double asked = now();
        bool changed = false;
        for (size_t i = 0; i < rows.size(); ++i) {
            std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> row(xcb_get_image_reply(c,
                xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen.root, 0, int16_t(rows[i]), screen.width_in_pixels, 1, ~0u),
                nullptr), &std::free);
            if (!row)
                return 1;
            std::string pixels(reinterpret_cast<const char*>(xcb_get_image_data(row.get())), xcb_get_image_data_length(row.get()));
            changed |= !seen[i].empty() && pixels != seen[i];
            seen[i] = std::move(pixels);
        }
        if (changed && (std::printf("changed %.4f %.4f\n", before, now()) < 0 || std::fflush(stdout) != 0))
            return 0;
        before = asked;
        usleep(5000);
    }
}

int main(int argc, char** argv)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "x_events: cannot connect to the display\n");
        return 1;
    }
    const xcb_screen_t& screen = *xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t root = screen.root;
    if (argc == 2 && std::string_view(argv[1]) == "screenshot")
        return screenshot(c, screen);
    if (argc >= 3 && std::string_view(argv[1]) == "changes") {
        std::vector<int> rows;
        for (int i = 2; i < argc; ++i)
            rows.push_back(std::atoi(argv[i]));
        return changes(c, screen, rows);
    }
    if (argc == 3 && std::string_view(argv[1]) == "geometry")
        return geometry(c, root, static_cast<xcb_window_t>(std::strtoul(argv[2], nullptr, 0)));
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    // A round trip: the root is watched before "ready" goes out.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    std::printf("ready\n");
    std::fflush(stdout);

    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            auto* e = reinterpret_cast<xcb_create_notify_event_t*>(event);
            if (e->parent == root)
                watch(c, root, e->window);
            break;
        }
        // Each watched window reports its own changes; the root's copies are skipped.
        case XCB_MAP_NOTIFY: {
            auto* e = reinterpret_cast<xcb_map_notify_event_t*>(event);
            if (e->event == e->window)
                std::printf("map %u\n", e->window);
            break;
        }
        case XCB_UNMAP_NOTIFY: {
            auto* e = reinterpret_cast<xcb_unmap_notify_event_t*>(event);
            if (e->event == e->window)
                std::printf("unmap %u\n", e->window);
            break;
        }
        case XCB_REPARENT_NOTIFY: {
            auto* e = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
            if (e->event == e->window)
                std::printf("reparent %u %u\n", e->window, e->parent);
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            auto* e = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
            if (e->event == e->window)
                std::printf("destroy %u\n", e->window);
            break;
        }
        default:
            break;
        }
        std::fflush(stdout);
        std::free(event);
    }
    xcb_disconnect(c);
    return 0;
}
