#include "xvfb.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

bool Xvfb::Start(std::string& why) {
  int fds[2];
  if (pipe(fds) != 0) return why = "no pipe", false;
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    // -noreset: a server that resets when its last client leaves refuses
    // the next one for a moment (clients that come one after another).
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24",
           nullptr);
    _exit(127);
  }
  close(fds[1]);
  // Xvfb writes its display number once it accepts connections.
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c;
  while (poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (pid_ < 0 || number.empty()) {
    Kill();
    return why = "Xvfb did not start (is the xvfb package installed?)", false;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return true;
}

void Xvfb::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool XHost::Connect() {
  c_ = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c_)) return false;
  screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
  return true;
}

XHost::~XHost() {
  if (c_) xcb_disconnect(c_);
}

uint32_t XHost::MakeWindow(int width, int height) {
  const uint32_t id = xcb_generate_id(c_);
  const uint32_t grey = 0x808080;
  xcb_create_window(c_, XCB_COPY_FROM_PARENT, id, screen_->root, 0, 0, uint16_t(width), uint16_t(height), 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, XCB_CW_BACK_PIXEL, &grey);
  xcb_map_window(c_, id);
  free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));  // done before another client uses it
  return id;
}

std::vector<uint32_t> XHost::Children(uint32_t window) {
  std::vector<uint32_t> out;
  if (auto* r = xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr)) {
    const xcb_window_t* kids = xcb_query_tree_children(r);
    out.assign(kids, kids + xcb_query_tree_children_length(r));
    free(r);
  }
  return out;
}

WindowInfo XHost::Info(uint32_t window) {
  WindowInfo info;
  if (auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr)) {
    info = {g->x, g->y, g->width, g->height, false};
    free(g);
  }
  if (auto* a = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr)) {
    info.viewable = a->map_state == XCB_MAP_STATE_VIEWABLE;
    free(a);
  }
  return info;
}

std::vector<uint32_t> XHost::Pixels(uint32_t window, int width, int height) {
  std::vector<uint32_t> out;
  auto* r = xcb_get_image_reply(
      c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, uint16_t(width), uint16_t(height), ~0u), nullptr);
  if (!r) return out;
  if (xcb_get_image_data_length(r) == width * height * 4) {
    const auto* words = reinterpret_cast<const uint32_t*>(xcb_get_image_data(r));
    out.assign(words, words + width * height);
    for (uint32_t& w : out) w &= 0xFFFFFF;
  }
  free(r);
  return out;
}

void XHost::Destroy(uint32_t window) {
  xcb_destroy_window(c_, window);
  xcb_flush(c_);
}

std::string XHost::Text(uint32_t window, uint32_t property) {
  std::string out;
  if (auto* r = xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                       nullptr)) {
    out.assign(static_cast<const char*>(xcb_get_property_value(r)), size_t(xcb_get_property_value_length(r)));
    free(r);
  }
  return out;
}

uint32_t XHost::Word(uint32_t window, uint32_t property) {
  const std::string bytes = Text(window, property);
  uint32_t w = 0;
  if (bytes.size() >= 4) memcpy(&w, bytes.data(), 4);
  return w;
}
