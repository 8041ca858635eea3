// The rest of the public libusb-1.0 API. Every symbol must exist (scanimage's
// libsane binds all of its libusb symbols at load); what the simulation
// does not use answers LIBUSB_ERROR_NOT_SUPPORTED or its harmless natural
// answer.
#include <libusb.h>

#include <cstdlib>

extern "C" {

void libusb_set_debug(libusb_context*, int) {}

void libusb_set_log_cb(libusb_context*, libusb_log_cb, int) {}

int libusb_set_option(libusb_context*, enum libusb_option option, ...) {
  switch (option) {
    case LIBUSB_OPTION_LOG_LEVEL:
    case LIBUSB_OPTION_NO_DEVICE_DISCOVERY:
      return 0;
    default:
      return LIBUSB_ERROR_NOT_SUPPORTED;
  }
}

const struct libusb_version* libusb_get_version(void) {
  static const libusb_version version = {1, 0, 26, 0, "", "dravn simulated USB"};
  return &version;
}

int libusb_has_capability(uint32_t capability) { return capability == LIBUSB_CAP_HAS_CAPABILITY ? 1 : 0; }

const char* libusb_error_name(int errcode) {
  switch (errcode) {
    case LIBUSB_SUCCESS:
      return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO:
      return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
      return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
      return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
      return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
      return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
      return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
      return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW:
      return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE:
      return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED:
      return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM:
      return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER:
      return "LIBUSB_ERROR_OTHER";
    default:
      return "**UNKNOWN**";
  }
}

const char* libusb_strerror(int errcode) {
  switch (errcode) {
    case LIBUSB_SUCCESS:
      return "Success";
    case LIBUSB_ERROR_IO:
      return "Input/Output Error";
    case LIBUSB_ERROR_INVALID_PARAM:
      return "Invalid parameter";
    case LIBUSB_ERROR_ACCESS:
      return "Access denied (insufficient permissions)";
    case LIBUSB_ERROR_NO_DEVICE:
      return "No such device (it may have been disconnected)";
    case LIBUSB_ERROR_NOT_FOUND:
      return "Entity not found";
    case LIBUSB_ERROR_BUSY:
      return "Resource busy";
    case LIBUSB_ERROR_TIMEOUT:
      return "Operation timed out";
    case LIBUSB_ERROR_OVERFLOW:
      return "Overflow";
    case LIBUSB_ERROR_PIPE:
      return "Pipe error";
    case LIBUSB_ERROR_INTERRUPTED:
      return "System call interrupted (perhaps due to signal)";
    case LIBUSB_ERROR_NO_MEM:
      return "Insufficient memory";
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return "Operation not supported or unimplemented on this platform";
    default:
      return "Other error";
  }
}

// Texts stay English.
int libusb_setlocale(const char*) { return 0; }

int libusb_wrap_sys_device(libusb_context*, intptr_t, libusb_device_handle**) { return LIBUSB_ERROR_NOT_SUPPORTED; }

// Descriptors a USB 2.0 scanner does not have.
int libusb_get_ss_endpoint_companion_descriptor(libusb_context*, const struct libusb_endpoint_descriptor*,
                                                struct libusb_ss_endpoint_companion_descriptor**) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}
void libusb_free_ss_endpoint_companion_descriptor(struct libusb_ss_endpoint_companion_descriptor*) {}
int libusb_get_bos_descriptor(libusb_device_handle*, struct libusb_bos_descriptor**) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}
void libusb_free_bos_descriptor(struct libusb_bos_descriptor*) {}
int libusb_get_usb_2_0_extension_descriptor(libusb_context*, struct libusb_bos_dev_capability_descriptor*,
                                            struct libusb_usb_2_0_extension_descriptor**) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}
void libusb_free_usb_2_0_extension_descriptor(struct libusb_usb_2_0_extension_descriptor*) {}
int libusb_get_ss_usb_device_capability_descriptor(libusb_context*, struct libusb_bos_dev_capability_descriptor*,
                                                   struct libusb_ss_usb_device_capability_descriptor**) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}
void libusb_free_ss_usb_device_capability_descriptor(struct libusb_ss_usb_device_capability_descriptor*) {}
int libusb_get_container_id_descriptor(libusb_context*, struct libusb_bos_dev_capability_descriptor*,
                                       struct libusb_container_id_descriptor**) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}
void libusb_free_container_id_descriptor(struct libusb_container_id_descriptor*) {}

int libusb_alloc_streams(libusb_device_handle*, uint32_t, unsigned char*, int) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_free_streams(libusb_device_handle*, unsigned char*, int) { return LIBUSB_ERROR_NOT_SUPPORTED; }
unsigned char* libusb_dev_mem_alloc(libusb_device_handle*, size_t) { return nullptr; }
int libusb_dev_mem_free(libusb_device_handle*, unsigned char*, size_t) { return LIBUSB_ERROR_NOT_SUPPORTED; }

// Asynchronous transfers: a transfer can be made and freed, never submitted.
struct libusb_transfer* libusb_alloc_transfer(int iso_packets) {
  if (iso_packets < 0) return nullptr;
  size_t size = sizeof(libusb_transfer) + sizeof(libusb_iso_packet_descriptor) * static_cast<size_t>(iso_packets);
  auto* transfer = static_cast<libusb_transfer*>(calloc(1, size));
  if (transfer) transfer->num_iso_packets = iso_packets;
  return transfer;
}
int libusb_submit_transfer(struct libusb_transfer*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_cancel_transfer(struct libusb_transfer*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
void libusb_free_transfer(struct libusb_transfer* transfer) {
  if (!transfer) return;
  if (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) free(transfer->buffer);
  free(transfer);
}
void libusb_transfer_set_stream_id(struct libusb_transfer*, uint32_t) {}
uint32_t libusb_transfer_get_stream_id(struct libusb_transfer*) { return 0; }

// Event handling: there are never events to handle.
int libusb_try_lock_events(libusb_context*) { return 0; }
void libusb_lock_events(libusb_context*) {}
void libusb_unlock_events(libusb_context*) {}
int libusb_event_handling_ok(libusb_context*) { return 1; }
int libusb_event_handler_active(libusb_context*) { return 0; }
void libusb_interrupt_event_handler(libusb_context*) {}
void libusb_lock_event_waiters(libusb_context*) {}
void libusb_unlock_event_waiters(libusb_context*) {}
int libusb_wait_for_event(libusb_context*, struct timeval*) { return 1; }
int libusb_handle_events_timeout(libusb_context*, struct timeval*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_handle_events_timeout_completed(libusb_context*, struct timeval*, int*) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}
int libusb_handle_events(libusb_context*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_handle_events_completed(libusb_context*, int*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_handle_events_locked(libusb_context*, struct timeval*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_pollfds_handle_timeouts(libusb_context*) { return 1; }
int libusb_get_next_timeout(libusb_context*, struct timeval*) { return 0; }
const struct libusb_pollfd** libusb_get_pollfds(libusb_context*) {
  return static_cast<const libusb_pollfd**>(calloc(1, sizeof(libusb_pollfd*)));
}
void libusb_free_pollfds(const struct libusb_pollfd** pollfds) { free(pollfds); }
void libusb_set_pollfd_notifiers(libusb_context*, libusb_pollfd_added_cb, libusb_pollfd_removed_cb, void*) {}

// Hotplug: not offered (libusb_has_capability says so).
int libusb_hotplug_register_callback(libusb_context*, int, int, int, int, int, libusb_hotplug_callback_fn, void*,
                                     libusb_hotplug_callback_handle*) {
  return LIBUSB_ERROR_NOT_SUPPORTED;
}
void libusb_hotplug_deregister_callback(libusb_context*, libusb_hotplug_callback_handle) {}
void* libusb_hotplug_get_user_data(libusb_context*, libusb_hotplug_callback_handle) { return nullptr; }

}  // extern "C"
