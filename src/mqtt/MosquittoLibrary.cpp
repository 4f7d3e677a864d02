#include "mqtt/MosquittoLibrary.h"

#include "base/SharedLibrary.h"

namespace duz {

const TMosquittoLibrary& TMosquittoLibrary::Load() {
  static const TMosquittoLibrary loaded = [] {
    const TSharedLibrary library("libmosquitto.so.1");
    const TMosquittoLibrary mosquitto{
        .Strerror = DUZ_LIBRARY_FUNCTION(library, mosquitto_strerror),
        .ConnackString = DUZ_LIBRARY_FUNCTION(library, mosquitto_connack_string),
        .New = DUZ_LIBRARY_FUNCTION(library, mosquitto_new),
        .Destroy = DUZ_LIBRARY_FUNCTION(library, mosquitto_destroy),
        .UsernamePwSet = DUZ_LIBRARY_FUNCTION(library, mosquitto_username_pw_set),
        .WillSet = DUZ_LIBRARY_FUNCTION(library, mosquitto_will_set),
        .IntOption = DUZ_LIBRARY_FUNCTION(library, mosquitto_int_option),
        .TlsSet = DUZ_LIBRARY_FUNCTION(library, mosquitto_tls_set),
        .ConnectCallbackSet = DUZ_LIBRARY_FUNCTION(library, mosquitto_connect_callback_set),
        .PublishCallbackSet = DUZ_LIBRARY_FUNCTION(library, mosquitto_publish_callback_set),
        .LogCallbackSet = DUZ_LIBRARY_FUNCTION(library, mosquitto_log_callback_set),
        .ConnectAsync = DUZ_LIBRARY_FUNCTION(library, mosquitto_connect_async),
        .Loop = DUZ_LIBRARY_FUNCTION(library, mosquitto_loop),
        .WantWrite = DUZ_LIBRARY_FUNCTION(library, mosquitto_want_write),
        .Socket = DUZ_LIBRARY_FUNCTION(library, mosquitto_socket),
        .Publish = DUZ_LIBRARY_FUNCTION(library, mosquitto_publish),
        .Disconnect = DUZ_LIBRARY_FUNCTION(library, mosquitto_disconnect),
    };
    DUZ_LIBRARY_FUNCTION(library, mosquitto_lib_init)();
    return mosquitto;
  }();
  return loaded;
}

}  // namespace duz
