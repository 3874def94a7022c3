#include "platform/coreaudio/pulse_record_stream.h"

#include <utility>

namespace ostrel::coreaudio::pulse {

void RecordStream::readable(pa_stream* stream, std::size_t, void* userdata) {
  auto* handler = static_cast<Handler*>(userdata);
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    handler->onData(handler->context, static_cast<const float*>(data), bytes / sizeof(float));
    pa_stream_drop(stream);
  }
}

void RecordStream::stateChanged(pa_stream* stream, void* userdata) {
  auto* handler = static_cast<Handler*>(userdata);
  pa_threaded_mainloop_signal(handler->loop, 0);
  if (!handler->connected || PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) return;
  handler->connected = false;
  if (!handler->onEnded) return;
  // A context that fails takes its streams down with it, after its own state.
  const bool serverGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(pa_stream_get_context(stream)));
  handler->onEnded(handler->context, serverGone ? kAudioHardwareNotRunningError : kAudioHardwareBadDeviceError);
}

std::expected<RecordStream, OSStatus> RecordStream::connect(Connection& connection, const std::string& source,
                                                            Routing routing, std::uint32_t rate,
                                                            const char* streamName, OnData onData, OnEnded onEnded,
                                                            void* context) {
  const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, rate, 1};
  if (!pa_sample_spec_valid(&format)) return std::unexpected(kAudioUnitErr_InvalidPropertyValue);
  LoopLock lock(connection.loop());
  pa_stream* stream = pa_stream_new(connection.context(), streamName, &format, nullptr);
  if (!stream) return std::unexpected(kAudioHardwareUnspecifiedError);
  RecordStream owner(connection, stream,
                     std::make_unique<Handler>(Handler{onData, onEnded, context, connection.loop()}));
  pa_stream_set_state_callback(stream, stateChanged, owner.handler_.get());
  pa_stream_set_read_callback(stream, readable, owner.handler_.get());

  // Fragments of 10 ms keep each cycle short.
  pa_buffer_attr attributes{};
  attributes.maxlength = std::uint32_t(-1);
  attributes.fragsize = std::uint32_t(pa_usec_to_bytes(10 * PA_USEC_PER_MSEC, &format));
  auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
  if (routing == Routing::pinned) flags = pa_stream_flags_t(flags | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(stream, source.c_str(), &attributes, flags) < 0)
    return std::unexpected(kAudioHardwareBadObjectError);
  while (true) {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
      owner.handler_->connected = true;
      break;
    }
    if (!PA_STREAM_IS_GOOD(state)) return std::unexpected(kAudioHardwareBadObjectError);
    pa_threaded_mainloop_wait(connection.loop());
  }
  return owner;
}

RecordStream::RecordStream(RecordStream&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)),
      stream_(std::exchange(other.stream_, nullptr)),
      handler_(std::move(other.handler_)) {}

RecordStream& RecordStream::operator=(RecordStream&& other) noexcept {
  if (this != &other) {
    release();
    connection_ = std::exchange(other.connection_, nullptr);
    stream_ = std::exchange(other.stream_, nullptr);
    handler_ = std::move(other.handler_);
  }
  return *this;
}

RecordStream::~RecordStream() { release(); }

void RecordStream::release() {
  if (!stream_) return;
  LoopLock lock(connection_->loop());
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

OSStatus RecordStream::setCorked(bool corked) {
  if (!stream_) return kAudioUnitErr_Uninitialized;
  LoopLock lock(connection_->loop());
  pa_operation* operation = pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr);
  if (!operation) return kAudioHardwareUnspecifiedError;
  // Corking is ordered with the stream's data, so no need to wait for it.
  pa_operation_unref(operation);
  return noErr;
}

}  // namespace ostrel::coreaudio::pulse
