#pragma once
// TMosquittoLibrary: the functions of libmosquitto that the MQTT connection uses, resolved when the
// first connection starts, so that a process without MQTT maps neither libmosquitto nor the TLS
// library it brings. Typed from libmosquitto's own header. Any thread may call Load; the library
// stays loaded for the rest of the process.
#include <mosquitto.h>

namespace duz {

struct TMosquittoLibrary {
  decltype(&mosquitto_strerror) Strerror;
  decltype(&mosquitto_connack_string) ConnackString;
  decltype(&mosquitto_new) New;
  decltype(&mosquitto_destroy) Destroy;
  decltype(&mosquitto_username_pw_set) UsernamePwSet;
  decltype(&mosquitto_will_set) WillSet;
  decltype(&mosquitto_int_option) IntOption;
  decltype(&mosquitto_tls_set) TlsSet;
  decltype(&mosquitto_connect_callback_set) ConnectCallbackSet;
  decltype(&mosquitto_publish_callback_set) PublishCallbackSet;
  decltype(&mosquitto_log_callback_set) LogCallbackSet;
  decltype(&mosquitto_connect_async) ConnectAsync;
  decltype(&mosquitto_loop) Loop;
  decltype(&mosquitto_want_write) WantWrite;
  decltype(&mosquitto_socket) Socket;
  decltype(&mosquitto_publish) Publish;
  decltype(&mosquitto_disconnect) Disconnect;

  // The library, loaded and initialised. Raises Exception with dlerror()'s reason when it cannot be
  // loaded (not installed, too old), and then the next call tries again.
  static const TMosquittoLibrary& Load();
};

}  // namespace duz
