#include "platform/coreaudio/pulse_connection.h"

namespace ostrel::coreaudio::pulse {

namespace {

void signalLoop(pa_context*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }

Error connectionError(OSStatus status, pa_context* context) {
  Error error{OSStatusError::domain, status, {}};
  if (context) error.userInfo[localizedDescriptionKey] = pa_strerror(pa_context_errno(context));
  return error;
}

}  // namespace

LoopLock::LoopLock(pa_threaded_mainloop* loop) : loop_(pa_threaded_mainloop_in_thread(loop) ? nullptr : loop) {
  if (loop_) pa_threaded_mainloop_lock(loop_);
}

LoopLock::~LoopLock() {
  if (loop_) pa_threaded_mainloop_unlock(loop_);
}

std::expected<std::unique_ptr<Connection>, Error> Connection::open(const char* clientName) {
  std::unique_ptr<Connection> connection(new Connection());
  connection->loop_ = pa_threaded_mainloop_new();
  if (!connection->loop_) return std::unexpected(connectionError(kAudioHardwareUnspecifiedError, nullptr));
  connection->context_ = pa_context_new(pa_threaded_mainloop_get_api(connection->loop_), clientName);
  if (!connection->context_) return std::unexpected(connectionError(kAudioHardwareUnspecifiedError, nullptr));
  pa_context_set_state_callback(connection->context_, signalLoop, connection->loop_);
  // A missing server is an answer, not a reason to start one.
  if (pa_context_connect(connection->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    return std::unexpected(connectionError(kAudioHardwareNotRunningError, connection->context_));
  if (pa_threaded_mainloop_start(connection->loop_) < 0)
    return std::unexpected(connectionError(kAudioHardwareUnspecifiedError, nullptr));

  LoopLock lock(connection->loop_);
  while (true) {
    const pa_context_state_t state = pa_context_get_state(connection->context_);
    if (state == PA_CONTEXT_READY) break;
    if (!PA_CONTEXT_IS_GOOD(state))
      return std::unexpected(connectionError(kAudioHardwareNotRunningError, connection->context_));
    pa_threaded_mainloop_wait(connection->loop_);
  }
  return connection;
}

Connection::~Connection() {
  if (loop_) pa_threaded_mainloop_stop(loop_);
  if (context_) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_) pa_threaded_mainloop_free(loop_);
}

bool Connection::alive() const {
  LoopLock lock(loop_);
  return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
}

bool Connection::await(pa_operation* operation) {
  if (!operation) return false;
  while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) break;
    pa_threaded_mainloop_wait(loop_);
  }
  const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
  pa_operation_unref(operation);
  return done;
}

}  // namespace ostrel::coreaudio::pulse
