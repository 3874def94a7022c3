#include "platform/coreaudio/pulse_audio_system.h"

#include <charconv>
#include <set>

#include "platform/coreaudio/hal_output_unit.h"
#include "platform/coreaudio/voice_processing_unit.h"

namespace ostrel::coreaudio {

std::expected<std::unique_ptr<AudioSystem>, Error> systemAudioSystem() {
  auto connection = pulse::Connection::open("ostrel");
  if (!connection) return std::unexpected(connection.error());
  return std::make_unique<pulse::PulseAudioSystem>(std::move(*connection));
}

namespace pulse {

PulseAudioSystem::~PulseAudioSystem() {
  // Listeners may refer to their owners; none may run once this is gone.
  LoopLock lock(connection_->loop());
  pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
}

std::expected<Device, OSStatus> PulseAudioSystem::device(AudioObjectID id) {
  const auto devices = listDevices(*connection_);
  if (!devices) return std::unexpected(kAudioHardwareNotRunningError);
  for (const Device& candidate : *devices)
    if (candidate.id == id) return candidate;
  return std::unexpected(kAudioHardwareBadObjectError);
}

std::expected<std::vector<AudioObjectID>, OSStatus> PulseAudioSystem::devices() {
  const auto devices = listDevices(*connection_);
  if (!devices) return std::unexpected(kAudioHardwareNotRunningError);
  std::vector<AudioObjectID> ids;
  for (const Device& device : *devices) ids.push_back(device.id);
  return ids;
}

std::expected<AudioObjectID, OSStatus> PulseAudioSystem::defaultDevice(bool output) {
  const auto defaults = serverDefaults(*connection_);
  const auto devices = listDevices(*connection_);
  if (!defaults || !devices) return std::unexpected(kAudioHardwareNotRunningError);
  const std::string& name = output ? defaults->sink : defaults->source;
  for (const Device& device : *devices)
    if (device.isSource != output && device.name == name) return device.id;
  return std::unexpected(kAudioHardwareBadObjectError);
}

std::expected<AudioObjectID, OSStatus> PulseAudioSystem::defaultOutputDevice() { return defaultDevice(true); }
std::expected<AudioObjectID, OSStatus> PulseAudioSystem::defaultInputDevice() { return defaultDevice(false); }

std::expected<TransportType, OSStatus> PulseAudioSystem::transportType(AudioObjectID id) {
  const auto found = device(id);
  if (!found) return std::unexpected(found.error());
  if (found->bus == "bluetooth") return TransportType::bluetooth;
  if (found->formFactor == "internal") return TransportType::builtIn;
  if (found->bus == "usb") return TransportType::usb;
  return TransportType::unknown;
}

std::expected<std::vector<std::uint32_t>, OSStatus> PulseAudioSystem::inputStreamConfiguration(AudioObjectID id) {
  const auto found = device(id);
  if (!found) return std::unexpected(found.error());
  if (!found->isSource) return std::vector<std::uint32_t>{};
  return std::vector<std::uint32_t>{found->channels};
}

std::expected<double, OSStatus> PulseAudioSystem::nominalSampleRate(AudioObjectID id) {
  const auto found = device(id);
  if (!found) return std::unexpected(found.error());
  return double(found->rate);
}

std::optional<AudioComponent> PulseAudioSystem::findComponent(ComponentSubType subType) {
  return AudioComponent{subType};
}

std::expected<std::unique_ptr<AudioUnit>, OSStatus> PulseAudioSystem::newInstance(const AudioComponent& component) {
  if (component.subType == ComponentSubType::voiceProcessingIO)
    return std::make_unique<VoiceProcessingUnit>(*connection_);
  return std::make_unique<HalOutputUnit>(*connection_);
}

std::expected<std::vector<AudioObjectID>, OSStatus> PulseAudioSystem::processObjects() {
  const auto outputs = listSourceOutputs(*connection_);
  const auto monitors = listMonitorSources(*connection_);
  if (!outputs || !monitors)
    return std::unexpected(connection_->alive() ? kAudioHardwareUnspecifiedError : kAudioHardwareNotRunningError);
  std::set<std::uint32_t> monitorIndexes;
  for (const Device& monitor : *monitors) monitorIndexes.insert(monitor.id & ~tagMask);
  std::vector<AudioObjectID> ids;
  for (const SourceOutput& output : *outputs)
    if (output.fromClient && !output.peakDetect && !monitorIndexes.contains(output.source)) ids.push_back(output.id);
  return ids;
}

std::expected<SourceOutput, OSStatus> PulseAudioSystem::sourceOutput(AudioObjectID id) {
  const auto outputs = listSourceOutputs(*connection_);
  if (!outputs) return std::unexpected(kAudioHardwareNotRunningError);
  for (const SourceOutput& output : *outputs)
    if (output.id == id) return output;
  return std::unexpected(kAudioHardwareBadObjectError);
}

std::expected<std::uint32_t, OSStatus> PulseAudioSystem::processIsRunningInput(AudioObjectID process) {
  const auto output = sourceOutput(process);
  if (!output) return std::unexpected(output.error());
  return output->corked ? 0u : 1u;
}

std::expected<std::int32_t, OSStatus> PulseAudioSystem::processPID(AudioObjectID process) {
  const auto output = sourceOutput(process);
  if (!output) return std::unexpected(output.error());
  std::int32_t pid = 0;
  const std::string& text = output->processID;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
  if (error != std::errc() || end != text.data() + text.size() || text.empty())
    return std::unexpected(kAudioHardwareUnspecifiedError);
  return pid;
}

std::expected<std::string, OSStatus> PulseAudioSystem::processBundleID(AudioObjectID process) {
  const auto output = sourceOutput(process);
  if (!output) return std::unexpected(output.error());
  if (!output->appID.empty()) return output->appID;
  if (!output->binary.empty()) return output->binary;
  return std::unexpected(kAudioHardwareUnspecifiedError);
}

namespace {
void signalDone(pa_context*, int, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }
}  // namespace

void PulseAudioSystem::subscribed(pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* self) {
  const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (kind != PA_SUBSCRIPTION_EVENT_NEW && kind != PA_SUBSCRIPTION_EVENT_REMOVE) return;
  for (const auto& listener : static_cast<PulseAudioSystem*>(self)->listeners_) listener();
}

OSStatus PulseAudioSystem::addProcessListListener(std::function<void()> onChange) {
  LoopLock lock(connection_->loop());
  const bool first = listeners_.empty();
  listeners_.push_back(std::move(onChange));
  if (!first) return noErr;
  pa_context_set_subscribe_callback(connection_->context(), subscribed, this);
  if (!connection_->await(
          pa_context_subscribe(connection_->context(), PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT, signalDone, connection_->loop())))
    return kAudioHardwareUnspecifiedError;
  return noErr;
}

}  // namespace pulse
}  // namespace ostrel::coreaudio
