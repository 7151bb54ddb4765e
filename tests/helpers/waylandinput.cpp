// A Wayland client for the idle-time tests, on the compositor of WAYLAND_DISPLAY.
//   waylandinput globals   prints the globals the compositor offers this client, one a line
//   waylandinput move      moves the pointer through KWin's fake-input protocol, as a user's
//                          mouse would; exits 3 when the compositor does not offer it
// Ends once the compositor has handled everything; gives up after 10 seconds.
#include <wayland-client.h>
#include <fake-input-client-protocol.h>
#include <fake-input-protocol.c>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Globals {
    std::vector<std::string> names;
    uint32_t fakeInput = 0, fakeInputVersion = 0;
};

void Global(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version)
{
    auto *globals = static_cast<Globals *>(data);
    globals->names.emplace_back(interface);
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        globals->fakeInput = name;
        globals->fakeInputVersion = version;
    }
}

void GlobalRemove(void *, wl_registry *, uint32_t) {}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    ::alarm(10);
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::perror("wl_display_connect");
        return 1;
    }
    Globals globals;
    const wl_registry_listener listener {Global, GlobalRemove};
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &globals);
    if (wl_display_roundtrip(display) < 0)
        return 1;
    org_kde_kwin_fake_input *input = nullptr;
    if (std::strcmp(argv[1], "globals") == 0) {
        for (const std::string &name : globals.names)
            std::printf("%s\n", name.c_str());
    } else if (std::strcmp(argv[1], "move") == 0) {
        if (!globals.fakeInput)
            return 3;
        input = static_cast<org_kde_kwin_fake_input *>(
            wl_registry_bind(registry, globals.fakeInput, &org_kde_kwin_fake_input_interface, 1));
        org_kde_kwin_fake_input_authenticate(input, "Tavro Login tests", "input for the idle-time tests");
        org_kde_kwin_fake_input_pointer_motion(input, wl_fixed_from_int(5), wl_fixed_from_int(3));
        org_kde_kwin_fake_input_pointer_motion(input, wl_fixed_from_int(-5), wl_fixed_from_int(-3));
    } else {
        return 2;
    }
    // Handled by the compositor once it answers this round trip.
    const bool handled = wl_display_roundtrip(display) >= 0;
    if (input)
        org_kde_kwin_fake_input_destroy(input);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return handled ? 0 : 1;
}
