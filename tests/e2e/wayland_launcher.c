/* A stand-in for the desktop's launcher in the Wayland end-to-end test: a small window that takes the
 * keyboard focus, and on each key the user (the test, through the compositor's remote-desktop input)
 * releases in it, asks the compositor for an activation token tied to that key press, as a launcher does
 * for the program it starts. Prints "focus" when it has the keyboard, "token TOKEN" for each token, and
 * "unfocus" when it loses the keyboard; ends at the end of its standard input. */
#define _GNU_SOURCE
#include "xdg-activation-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

enum
{
    kWidth = 240,
    kHeight = 120
};

struct launcher
{
    struct wl_compositor* compositor;
    struct wl_shm* shm;
    struct wl_seat* seat;
    struct wl_keyboard* keyboard;
    struct xdg_wm_base* wm_base;
    struct xdg_activation_v1* activation;
    struct wl_surface* surface;
    struct wl_buffer* buffer;
    int configured;
};

static void token_done(void* data, struct xdg_activation_token_v1* token, const char* name)
{
    (void)data;
    printf("token %s\n", name);
    fflush(stdout);
    xdg_activation_token_v1_destroy(token);
}

static const struct xdg_activation_token_v1_listener token_listener = {token_done};

static void key_enter(void* data, struct wl_keyboard* k, uint32_t serial, struct wl_surface* s, struct wl_array* keys)
{
    (void)data, (void)k, (void)serial, (void)s, (void)keys;
    puts("focus");
    fflush(stdout);
}

static void key_leave(void* data, struct wl_keyboard* k, uint32_t serial, struct wl_surface* s)
{
    (void)data, (void)k, (void)serial, (void)s;
    puts("unfocus");
    fflush(stdout);
}

static void key_key(void* data, struct wl_keyboard* k, uint32_t serial, uint32_t time, uint32_t key, uint32_t state)
{
    struct launcher* l = data;
    (void)k, (void)time, (void)key;
    if (state != WL_KEYBOARD_KEY_STATE_RELEASED || l->activation == NULL)
        return;
    struct xdg_activation_token_v1* token = xdg_activation_v1_get_activation_token(l->activation);
    xdg_activation_token_v1_add_listener(token, &token_listener, l);
    xdg_activation_token_v1_set_serial(token, serial, l->seat);
    xdg_activation_token_v1_set_surface(token, l->surface);
    xdg_activation_token_v1_commit(token);
}

static void key_keymap(void* data, struct wl_keyboard* k, uint32_t format, int32_t fd, uint32_t size)
{
    (void)data, (void)k, (void)format, (void)size;
    close(fd);
}

static void key_modifiers(void* data, struct wl_keyboard* k, uint32_t serial, uint32_t d, uint32_t la, uint32_t lo,
                          uint32_t group)
{
    (void)data, (void)k, (void)serial, (void)d, (void)la, (void)lo, (void)group;
}

static void key_repeat(void* data, struct wl_keyboard* k, int32_t rate, int32_t delay)
{
    (void)data, (void)k, (void)rate, (void)delay;
}

static const struct wl_keyboard_listener keyboard_listener = {key_keymap, key_enter,     key_leave,
                                                              key_key,    key_modifiers, key_repeat};

static void seat_capabilities(void* data, struct wl_seat* seat, uint32_t caps)
{
    struct launcher* l = data;
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && l->keyboard == NULL) {
        l->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(l->keyboard, &keyboard_listener, l);
    }
}

static void seat_name(void* data, struct wl_seat* seat, const char* name)
{
    (void)data, (void)seat, (void)name;
}

static const struct wl_seat_listener seat_listener = {seat_capabilities, seat_name};

static void wm_ping(void* data, struct xdg_wm_base* base, uint32_t serial)
{
    (void)data;
    xdg_wm_base_pong(base, serial);
}

static const struct xdg_wm_base_listener wm_base_listener = {wm_ping};

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    struct launcher* l = data;
    (void)version;
    if (strcmp(interface, wl_compositor_interface.name) == 0)
        l->compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 1);
    else if (strcmp(interface, wl_shm_interface.name) == 0)
        l->shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    else if (strcmp(interface, wl_seat_interface.name) == 0 && l->seat == NULL) {
        l->seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
        wl_seat_add_listener(l->seat, &seat_listener, l);
    } else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        l->wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(l->wm_base, &wm_base_listener, l);
    } else if (strcmp(interface, xdg_activation_v1_interface.name) == 0)
        l->activation = wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

static void surface_configure(void* data, struct xdg_surface* surface, uint32_t serial)
{
    struct launcher* l = data;
    xdg_surface_ack_configure(surface, serial);
    if (!l->configured) {
        l->configured = 1;
        wl_surface_attach(l->surface, l->buffer, 0, 0);
        wl_surface_damage(l->surface, 0, 0, kWidth, kHeight);
    }
    wl_surface_commit(l->surface);
}

static const struct xdg_surface_listener surface_listener = {surface_configure};

static void toplevel_configure(void* data, struct xdg_toplevel* t, int32_t w, int32_t h, struct wl_array* states)
{
    (void)data, (void)t, (void)w, (void)h, (void)states;
}

static void toplevel_close(void* data, struct xdg_toplevel* t)
{
    (void)data, (void)t;
}

static const struct xdg_toplevel_listener toplevel_listener = {toplevel_configure, toplevel_close, NULL, NULL};

/* A grey picture in shared memory. */
static struct wl_buffer* make_buffer(struct wl_shm* shm)
{
    const int stride = kWidth * 4, size = stride * kHeight;
    int fd = memfd_create("launcher", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0)
        return NULL;
    uint32_t* pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED)
        return NULL;
    for (int i = 0; i < kWidth * kHeight; ++i)
        pixels[i] = 0xff707070;
    munmap(pixels, size);
    struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
    struct wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, kWidth, kHeight, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

int main(void)
{
    struct launcher l = {0};
    struct wl_display* display = wl_display_connect(NULL);
    if (display == NULL) {
        fprintf(stderr, "wayland_launcher: no Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, &l);
    wl_display_roundtrip(display);
    if (l.compositor == NULL || l.shm == NULL || l.wm_base == NULL || l.seat == NULL) {
        fprintf(stderr, "wayland_launcher: the compositor lacks a global this needs\n");
        return 1;
    }
    if (l.activation == NULL)
        fprintf(stderr, "wayland_launcher: the compositor offers no xdg_activation_v1\n");
    l.buffer = make_buffer(l.shm);
    if (l.buffer == NULL) {
        perror("wayland_launcher: shared memory");
        return 1;
    }
    l.surface = wl_compositor_create_surface(l.compositor);
    struct xdg_surface* xdg = xdg_wm_base_get_xdg_surface(l.wm_base, l.surface);
    xdg_surface_add_listener(xdg, &surface_listener, &l);
    struct xdg_toplevel* toplevel = xdg_surface_get_toplevel(xdg);
    xdg_toplevel_add_listener(toplevel, &toplevel_listener, &l);
    xdg_toplevel_set_title(toplevel, "Starter");
    xdg_toplevel_set_app_id(toplevel, "fotoimport-test-launcher");
    wl_surface_commit(l.surface);

    struct pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        wl_display_flush(display);
        if (poll(fds, 2, -1) < 0) {
            wl_display_cancel_read(display);
            break;
        }
        if (fds[0].revents & POLLIN) {
            if (wl_display_read_events(display) != 0)
                break;
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0)
            break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char line[64];
            if (read(STDIN_FILENO, line, sizeof line) <= 0)
                break;
        }
        if (fds[0].revents & (POLLERR | POLLHUP))
            break;
    }
    wl_display_disconnect(display);
    return 0;
}
