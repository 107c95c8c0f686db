/* A virtual keyboard and pointer on a Wayland compositor's seat, for the end-to-end tests.
 * Says "ok" once both exist, then reads one command a line on stdin and answers "ok" once the
 * compositor has handled it:
 *   key NAME 1|0       press or release the key that types the X keysym NAME ("3", "KP_3")
 *   motion X Y W H     move the pointer to (X, Y) of the W x H layout
 *   button N 1|0       press or release button N (1 left, 2 middle, 3 right)
 * The keymap is xkbcommon's default, whose key codes are Linux evdev codes, as GLFW reads them. */
#define _GNU_SOURCE
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

static struct wl_seat* seat;
static struct zwp_virtual_keyboard_manager_v1* keyboards;
static struct zwlr_virtual_pointer_manager_v1* pointers;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
  (void)data, (void)version;
  if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
    seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  else if (strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
    keyboards = wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
  else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
    pointers = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
}

static void globalRemove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}

static void fail(const char* what) {
  fprintf(stderr, "virtual_input: %s\n", what);
  exit(1);
}

static uint32_t now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

/* The evdev code of the first key that types `sym` on some level (KP_3 is the keypad's second
 * level), or -1. */
static int evdevCode(struct xkb_keymap* keymap, xkb_keysym_t sym) {
  for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= xkb_keymap_max_keycode(keymap);
       ++key) {
    for (xkb_level_index_t level = 0; level < xkb_keymap_num_levels_for_key(keymap, key, 0);
         ++level) {
      const xkb_keysym_t* syms;
      if (xkb_keymap_key_get_syms_by_level(keymap, key, 0, level, &syms) > 0 && syms[0] == sym)
        return (int)key - 8;
    }
  }
  return -1;
}

int main(void) {
  static const struct wl_registry_listener listener = {global, globalRemove};
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) fail("no Wayland display");
  wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
  wl_display_roundtrip(display);
  if (!seat || !keyboards || !pointers) fail("no seat, or no virtual keyboard or pointer");

  struct xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  struct xkb_keymap* keymap = xkb_keymap_new_from_names(context, NULL, 0);
  char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : NULL;
  if (!text) fail("cannot compile the default keymap");
  size_t size = strlen(text) + 1;
  int fd = memfd_create("keymap", MFD_CLOEXEC);
  if (fd < 0 || write(fd, text, size) != (ssize_t)size) fail("cannot pass the keymap");
  struct zwp_virtual_keyboard_v1* keyboard =
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
  zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, (uint32_t)size);
  struct zwlr_virtual_pointer_v1* pointer =
      zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, seat);
  if (wl_display_roundtrip(display) < 0) fail("lost the compositor");
  printf("ok\n");
  fflush(stdout);

  static const uint32_t buttons[] = {BTN_LEFT, BTN_MIDDLE, BTN_RIGHT};
  char line[256], name[64];
  unsigned x, y, w, h, n, down;
  int code;
  while (fgets(line, sizeof line, stdin)) {
    if (sscanf(line, "key %63s %u", name, &down) == 2 &&
        (code = evdevCode(keymap, xkb_keysym_from_name(name, XKB_KEYSYM_NO_FLAGS))) >= 0) {
      zwp_virtual_keyboard_v1_key(keyboard, now(), (uint32_t)code, down != 0);
    } else if (sscanf(line, "motion %u %u %u %u", &x, &y, &w, &h) == 4) {
      zwlr_virtual_pointer_v1_motion_absolute(pointer, now(), x, y, w, h);
      zwlr_virtual_pointer_v1_frame(pointer);
    } else if (sscanf(line, "button %u %u", &n, &down) == 2 && n >= 1 && n <= 3) {
      zwlr_virtual_pointer_v1_button(pointer, now(), buttons[n - 1], down != 0);
      zwlr_virtual_pointer_v1_frame(pointer);
    } else {
      printf("error: cannot carry out %s", line);
      fflush(stdout);
      continue;
    }
    if (wl_display_roundtrip(display) < 0) fail("lost the compositor");
    printf("ok\n");
    fflush(stdout);
  }
  wl_display_disconnect(display);
  return 0;
}
