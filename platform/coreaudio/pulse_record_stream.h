#pragma once

#include <pulse/pulseaudio.h>

#include <cstddef>
#include <expected>
#include <memory>
#include <string>

#include "platform/coreaudio/audio_types.h"
#include "platform/coreaudio/pulse_connection.h"

namespace ostrel::coreaudio::pulse {

// One mono float capture stream from a named source. Connected corked;
// `onData` runs on the loop's thread with the loop lock held, once per
// fragment (`samples` is null for a hole in the stream), and `onEnded`
// (when given) likewise, once, if the stream ends after it was connected
// without being released: kAudioHardwareNotRunningError when the server
// went away, kAudioHardwareBadDeviceError when the source did.
class RecordStream {
 public:
  using OnData = void (*)(void* context, const float* samples, std::size_t frames);
  using OnEnded = void (*)(void* context, OSStatus reason);

  // Where the server may take the stream. Left free, it moves the stream to
  // the new default source when the default changes, and to another source
  // when its own goes away; pinned, it stays on `source` and ends with it.
  enum class Routing { followsDefault, pinned };

  static std::expected<RecordStream, OSStatus> connect(Connection& connection, const std::string& source,
                                                       Routing routing, std::uint32_t rate, const char* streamName,
                                                       OnData onData, OnEnded onEnded, void* context);
  RecordStream(RecordStream&& other) noexcept;
  RecordStream& operator=(RecordStream&& other) noexcept;
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;
  ~RecordStream();

  OSStatus setCorked(bool corked);

 private:
  struct Handler {
    OnData onData;
    OnEnded onEnded;
    void* context;
    pa_threaded_mainloop* loop;
    bool connected = false;  // ready once; cleared when the end is told
  };
  RecordStream(Connection& connection, pa_stream* stream, std::unique_ptr<Handler> handler)
      : connection_(&connection), stream_(stream), handler_(std::move(handler)) {}
  void release();
  static void readable(pa_stream* stream, std::size_t bytes, void* userdata);
  static void stateChanged(pa_stream* stream, void* userdata);

  Connection* connection_ = nullptr;
  pa_stream* stream_ = nullptr;
  std::unique_ptr<Handler> handler_;
};

}  // namespace ostrel::coreaudio::pulse
