#pragma once

#include <deque>
#include <map>
#include <optional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/coreaudio/audio_system.h"

namespace ostrel::coreaudio::testing {

struct FakeDevice {
  AudioObjectID id = 0;
  std::expected<TransportType, OSStatus> transport = TransportType::unknown;
  std::vector<std::uint32_t> inputChannels;  // one entry per input buffer
  std::expected<double, OSStatus> rate = 48000.0;
};

struct FakeProcess {
  AudioObjectID id = 0;
  std::expected<std::uint32_t, OSStatus> runningInput = 1u;
  std::expected<std::int32_t, OSStatus> pid = 0;
  std::optional<std::string> bundleID;  // none: the read fails
};

// What the units did and what they are told to answer. Shared with the
// units, so it outlives them: "dispose" is logged when a unit is destroyed.
class FakeAudioUnit;

struct FakeUnitScript {
  // Statuses to answer, in order, per call name ("initialize", "start",
  // "enableIO", "currentDevice", "streamFormat", "inputCallback",
  // "renderCallback", "ducking", "stoppedListener", "render", "stop",
  // "uninitialize");
  // once a queue is empty the call succeeds.
  std::map<std::string, std::deque<OSStatus>> statuses;
  std::vector<std::string> calls;
  std::vector<StreamFormat> formats;
  AudioObjectID currentDevice = 0;
  FakeAudioUnit* liveUnit = nullptr;
};

class FakeAudioUnit final : public AudioUnit {
 public:
  FakeAudioUnit(ComponentSubType subType, std::shared_ptr<FakeUnitScript> script)
      : subType_(subType), script_(std::move(script)) {
    script_->liveUnit = this;
  }
  ~FakeAudioUnit() override;

  OSStatus setEnableIO(Scope scope, Element element, bool enabled) override;
  OSStatus setCurrentDevice(AudioObjectID device) override;
  OSStatus setStreamFormat(Scope scope, Element element, const StreamFormat& format) override;
  OSStatus setInputCallback(const CallbackStruct& callback) override;
  OSStatus setRenderCallback(Scope scope, Element element, const RenderCallbackStruct& callback) override;
  OSStatus setDuckingConfiguration(const DuckingConfiguration& configuration) override;
  OSStatus setStoppedListener(std::function<void(OSStatus reason)> onStopped) override;
  OSStatus initialize() override;
  OSStatus start() override;
  OSStatus render(RenderFlags* flags, const AudioTimeStamp* timestamp, std::uint32_t bus, std::uint32_t frames,
                  float* buffer) override;
  OSStatus stop() override;
  OSStatus uninitialize() override;

  ComponentSubType subType() const { return subType_; }
  // One hardware cycle: runs the input callback with these frames ready.
  OSStatus deliver(std::span<const float> frames);
  // Calls the installed render callback for `frames` frames into `buffer`.
  OSStatus renderOutput(std::span<float> buffer);
  // The unit stops by itself, as when its device or the audio system goes.
  void stopsByItself(OSStatus reason);

 private:
  OSStatus answer(const std::string& call);

  ComponentSubType subType_;
  std::shared_ptr<FakeUnitScript> script_;
  CallbackStruct input_;
  RenderCallbackStruct output_;
  std::function<void(OSStatus)> stopped_;
  std::span<const float> cycle_;
};

// A scriptable audio system for the programs' unit tests.
class FakeAudioSystem final : public AudioSystem {
 public:
  std::expected<std::vector<AudioObjectID>, OSStatus> deviceList = std::vector<AudioObjectID>{};
  std::vector<FakeDevice> deviceTable;
  std::expected<AudioObjectID, OSStatus> defaultOutput = std::unexpected(kAudioHardwareBadObjectError);
  std::expected<AudioObjectID, OSStatus> defaultInput = std::unexpected(kAudioHardwareBadObjectError);
  std::set<ComponentSubType> components{ComponentSubType::halOutput, ComponentSubType::voiceProcessingIO};
  std::expected<void, OSStatus> instanceResult;
  std::shared_ptr<FakeUnitScript> unitScript = std::make_shared<FakeUnitScript>();
  std::expected<std::vector<AudioObjectID>, OSStatus> processList = std::vector<AudioObjectID>{};
  std::vector<FakeProcess> processTable;

  // Adds a device to the table and to the device list.
  void addDevice(FakeDevice device);
  // The most recently created unit, while it lives.
  FakeAudioUnit* unit() const { return unitScript->liveUnit; }
  // Runs the process-list listeners, as a change of the list would.
  void processListChanged();

  std::expected<std::vector<AudioObjectID>, OSStatus> devices() override { return deviceList; }
  std::expected<AudioObjectID, OSStatus> defaultOutputDevice() override { return defaultOutput; }
  std::expected<AudioObjectID, OSStatus> defaultInputDevice() override { return defaultInput; }
  std::expected<TransportType, OSStatus> transportType(AudioObjectID device) override;
  std::expected<std::vector<std::uint32_t>, OSStatus> inputStreamConfiguration(AudioObjectID device) override;
  std::expected<double, OSStatus> nominalSampleRate(AudioObjectID device) override;
  std::optional<AudioComponent> findComponent(ComponentSubType subType) override;
  std::expected<std::unique_ptr<AudioUnit>, OSStatus> newInstance(const AudioComponent& component) override;
  std::expected<std::vector<AudioObjectID>, OSStatus> processObjects() override { return processList; }
  std::expected<std::uint32_t, OSStatus> processIsRunningInput(AudioObjectID process) override;
  std::expected<std::int32_t, OSStatus> processPID(AudioObjectID process) override;
  std::expected<std::string, OSStatus> processBundleID(AudioObjectID process) override;
  OSStatus addProcessListListener(std::function<void()> onChange) override;

 private:
  const FakeDevice* findDevice(AudioObjectID id) const;
  const FakeProcess* findProcess(AudioObjectID id) const;

  std::vector<std::function<void()>> listeners_;
};

}  // namespace ostrel::coreaudio::testing
