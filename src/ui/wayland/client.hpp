// libwayland-client, found at run time. The window system never links it:
// a process without it still loads us, and a Wayland host's own copy (the
// one its wl_display belongs to) is the one we use, since a proxy of one
// copy handed to another aborts the process.
//
// Only the core calls are used; requests are sent with
// wl_proxy_marshal_flags and the protocol's opcodes, as the generated
// protocol header does.
#pragma once

#include <cstdint>

namespace tovui::wayland {

struct Proxy;  // wl_proxy, and every object of the protocol
struct Queue;  // wl_event_queue
struct Interface;

// The few events we listen to, with libwayland's calling convention.
using GlobalEvent = void (*)(void* data, Proxy* registry, uint32_t name, const char* interface, uint32_t version);
using GlobalRemoveEvent = void (*)(void* data, Proxy* registry, uint32_t name);
using ReleaseEvent = void (*)(void* data, Proxy* buffer);
using DoneEvent = void (*)(void* data, Proxy* callback, uint32_t time);

struct Client {
  Proxy* (*marshal_flags)(Proxy* proxy, uint32_t opcode, const Interface* interface, uint32_t version, uint32_t flags,
                          ...);
  int (*add_listener)(Proxy* proxy, void (**implementation)(void), void* data);
  void* (*create_wrapper)(void* proxy);
  void (*wrapper_destroy)(void* wrapper);
  void (*set_queue)(Proxy* proxy, Queue* queue);
  uint32_t (*get_version)(Proxy* proxy);
  void (*proxy_destroy)(Proxy* proxy);
  Queue* (*create_queue)(Proxy* display);
  void (*queue_destroy)(Queue* queue);
  int (*roundtrip_queue)(Proxy* display, Queue* queue);
  int (*dispatch_queue_pending)(Proxy* display, Queue* queue);
  int (*flush)(Proxy* display);
  const Interface* registry;
  const Interface* compositor;
  const Interface* subcompositor;
  const Interface* subsurface;
  const Interface* surface;
  const Interface* region;
  const Interface* shm;
  const Interface* shm_pool;
  const Interface* buffer;
  const Interface* callback;
};

// The process's libwayland-client, or null when it cannot be loaded.
const Client* client();

// The window's bounds were just set: a window shown as a subsurface sends
// its new place at once, so that the host's next commit of its surface (the
// one ending the frame it is drawing) shows it there. Waiting for the
// damage to be pumped would miss that commit, and a host whose window then
// changes no more would never commit again. Nothing for other windows.
void placed(uint32_t window);

// Opcodes of the requests we send.
constexpr uint32_t kDisplayGetRegistry = 1;
constexpr uint32_t kRegistryBind = 0;
constexpr uint32_t kCompositorCreateSurface = 0, kCompositorCreateRegion = 1;
constexpr uint32_t kSubcompositorDestroy = 0, kSubcompositorGetSubsurface = 1;
constexpr uint32_t kSubsurfaceDestroy = 0, kSubsurfaceSetPosition = 1, kSubsurfaceSetSync = 4, kSubsurfaceSetDesync = 5;
constexpr uint32_t kSurfaceDestroy = 0, kSurfaceAttach = 1, kSurfaceFrame = 3, kSurfaceSetInputRegion = 5,
                   kSurfaceCommit = 6, kSurfaceSetBufferScale = 8, kSurfaceDamageBuffer = 9;
constexpr uint32_t kRegionDestroy = 0;
constexpr uint32_t kShmCreatePool = 0;
constexpr uint32_t kShmPoolCreateBuffer = 0, kShmPoolDestroy = 1;
constexpr uint32_t kBufferDestroy = 0;
constexpr uint32_t kShmFormatXrgb8888 = 1;
constexpr uint32_t kMarshalDestroy = 1;  // WL_MARSHAL_FLAG_DESTROY

}  // namespace tovui::wayland
