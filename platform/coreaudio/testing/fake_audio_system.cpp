#include "platform/coreaudio/testing/fake_audio_system.h"

#include <algorithm>

namespace ostrel::coreaudio::testing {

FakeAudioUnit::~FakeAudioUnit() {
  script_->calls.push_back("dispose");
  if (script_->liveUnit == this) script_->liveUnit = nullptr;
}

OSStatus FakeAudioUnit::answer(const std::string& call) {
  script_->calls.push_back(call);
  auto& queue = script_->statuses[call];
  if (queue.empty()) return noErr;
  const OSStatus status = queue.front();
  queue.pop_front();
  return status;
}

OSStatus FakeAudioUnit::setEnableIO(Scope scope, Element element, bool enabled) {
  const OSStatus status = answer("enableIO");
  // Logged with its arguments, e.g. "enableIO:2/0=1" (output scope, element 0, on).
  script_->calls.back() += ":" + std::to_string(int(scope)) + "/" + std::to_string(element) + "=" + (enabled ? "1" : "0");
  return status;
}

OSStatus FakeAudioUnit::setCurrentDevice(AudioObjectID device) {
  const OSStatus status = answer("currentDevice");
  if (status == noErr) script_->currentDevice = device;
  return status;
}

OSStatus FakeAudioUnit::setStreamFormat(Scope, Element, const StreamFormat& format) {
  const OSStatus status = answer("streamFormat");
  if (status == noErr) script_->formats.push_back(format);
  return status;
}

OSStatus FakeAudioUnit::setInputCallback(const CallbackStruct& callback) {
  const OSStatus status = answer("inputCallback");
  if (status == noErr) input_ = callback;
  return status;
}

OSStatus FakeAudioUnit::setRenderCallback(Scope, Element, const RenderCallbackStruct& callback) {
  const OSStatus status = answer("renderCallback");
  if (status == noErr) output_ = callback;
  return status;
}

OSStatus FakeAudioUnit::setDuckingConfiguration(const DuckingConfiguration&) { return answer("ducking"); }

OSStatus FakeAudioUnit::setStoppedListener(std::function<void(OSStatus reason)> onStopped) {
  const OSStatus status = answer("stoppedListener");
  if (status == noErr) stopped_ = std::move(onStopped);
  return status;
}

void FakeAudioUnit::stopsByItself(OSStatus reason) {
  if (stopped_) stopped_(reason);
}
OSStatus FakeAudioUnit::initialize() { return answer("initialize"); }
OSStatus FakeAudioUnit::start() { return answer("start"); }
OSStatus FakeAudioUnit::stop() { return answer("stop"); }
OSStatus FakeAudioUnit::uninitialize() { return answer("uninitialize"); }

OSStatus FakeAudioUnit::render(RenderFlags*, const AudioTimeStamp*, std::uint32_t, std::uint32_t frames,
                               float* buffer) {
  // Not logged: it runs every cycle.
  auto& queue = script_->statuses["render"];
  if (!queue.empty()) {
    const OSStatus status = queue.front();
    queue.pop_front();
    if (status != noErr) return status;
  }
  if (frames > cycle_.size()) return kAudioUnitErr_CannotDoInCurrentContext;
  std::copy_n(cycle_.begin(), frames, buffer);
  return noErr;
}

OSStatus FakeAudioUnit::deliver(std::span<const float> frames) {
  if (!input_.inputProc) return kAudioUnitErr_Uninitialized;
  cycle_ = frames;
  RenderFlags flags = 0;
  const AudioTimeStamp timestamp{};
  const OSStatus status = input_.inputProc(input_.context, &flags, &timestamp, 1, std::uint32_t(frames.size()));
  cycle_ = {};
  return status;
}

OSStatus FakeAudioUnit::renderOutput(std::span<float> buffer) {
  if (!output_.renderProc) return kAudioUnitErr_Uninitialized;
  RenderFlags flags = 0;
  const AudioTimeStamp timestamp{};
  return output_.renderProc(output_.context, &flags, &timestamp, 0, std::uint32_t(buffer.size()), buffer.data(),
                            std::uint32_t(buffer.size_bytes()));
}

void FakeAudioSystem::addDevice(FakeDevice device) {
  if (deviceList) deviceList->push_back(device.id);
  deviceTable.push_back(std::move(device));
}

const FakeDevice* FakeAudioSystem::findDevice(AudioObjectID id) const {
  for (const auto& device : deviceTable)
    if (device.id == id) return &device;
  return nullptr;
}

const FakeProcess* FakeAudioSystem::findProcess(AudioObjectID id) const {
  for (const auto& process : processTable)
    if (process.id == id) return &process;
  return nullptr;
}

std::expected<TransportType, OSStatus> FakeAudioSystem::transportType(AudioObjectID id) {
  const FakeDevice* device = findDevice(id);
  return device ? device->transport : std::unexpected(kAudioHardwareBadObjectError);
}

std::expected<std::vector<std::uint32_t>, OSStatus> FakeAudioSystem::inputStreamConfiguration(AudioObjectID id) {
  const FakeDevice* device = findDevice(id);
  if (!device) return std::unexpected(kAudioHardwareBadObjectError);
  return device->inputChannels;
}

std::expected<double, OSStatus> FakeAudioSystem::nominalSampleRate(AudioObjectID id) {
  const FakeDevice* device = findDevice(id);
  return device ? device->rate : std::unexpected(kAudioHardwareBadObjectError);
}

std::optional<AudioComponent> FakeAudioSystem::findComponent(ComponentSubType subType) {
  if (!components.contains(subType)) return std::nullopt;
  return AudioComponent{subType};
}

std::expected<std::unique_ptr<AudioUnit>, OSStatus> FakeAudioSystem::newInstance(const AudioComponent& component) {
  if (!instanceResult) return std::unexpected(instanceResult.error());
  return std::make_unique<FakeAudioUnit>(component.subType, unitScript);
}

std::expected<std::uint32_t, OSStatus> FakeAudioSystem::processIsRunningInput(AudioObjectID id) {
  const FakeProcess* process = findProcess(id);
  return process ? process->runningInput : std::unexpected(kAudioHardwareBadObjectError);
}

std::expected<std::int32_t, OSStatus> FakeAudioSystem::processPID(AudioObjectID id) {
  const FakeProcess* process = findProcess(id);
  return process ? process->pid : std::unexpected(kAudioHardwareBadObjectError);
}

std::expected<std::string, OSStatus> FakeAudioSystem::processBundleID(AudioObjectID id) {
  const FakeProcess* process = findProcess(id);
  if (!process) return std::unexpected(kAudioHardwareBadObjectError);
  if (!process->bundleID) return std::unexpected(kAudioHardwareUnspecifiedError);
  return *process->bundleID;
}

OSStatus FakeAudioSystem::addProcessListListener(std::function<void()> onChange) {
  listeners_.push_back(std::move(onChange));
  return noErr;
}

void FakeAudioSystem::processListChanged() {
  for (const auto& listener : listeners_) listener();
}

}  // namespace ostrel::coreaudio::testing
