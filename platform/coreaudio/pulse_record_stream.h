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
// fragment (`samples` is null for a hole in the stream).
class RecordStream {
 public:
  using OnData = void (*)(void* context, const float* samples, std::size_t frames);

  static std::expected<RecordStream, OSStatus> connect(Connection& connection, const std::string& source,
                                                       std::uint32_t rate, const char* streamName, OnData onData,
                                                       void* context);
  RecordStream(RecordStream&& other) noexcept;
  RecordStream& operator=(RecordStream&& other) noexcept;
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;
  ~RecordStream();

  OSStatus setCorked(bool corked);

 private:
  struct Handler {
    OnData onData;
    void* context;
    pa_threaded_mainloop* loop;
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
