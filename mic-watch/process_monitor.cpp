#include "mic-watch/process_monitor.h"

#include <nlohmann/json.hpp>

namespace ostrel::micwatch {

void ProcessMonitor::hello() { out_.write({{"event", "hello"}, {"api", "process-objects"}}); }

std::expected<ProcessMonitor::Records, coreaudio::OSStatus> ProcessMonitor::current(coreaudio::AudioSystem& system) {
  Records found;
  const auto list = system.processObjects();
  if (!list) return std::unexpected(list.error());
  for (const coreaudio::AudioObjectID object : *list) {
    const auto running = system.processIsRunningInput(object);
    if (!running || *running != 1) continue;
    ProcessRecord record;
    record.pid = system.processPID(object).value_or(0);
    auto bundleID = system.processBundleID(object);
    record.bundleID = bundleID && !bundleID->empty() ? *bundleID : "unknown";
    std::optional<std::string> name;
    if (record.pid > 0) name = names_(record.pid);
    record.name = name && !name->empty() ? *name : record.bundleID;
    found.emplace(object, std::move(record));
  }
  return found;
}

bool ProcessMonitor::scan(coreaudio::AudioSystem& system) {
  auto listed = current(system);
  Records now = listed.value_or(Records{});
  for (auto& [object, record] : now) {
    // A process that stops during a scan can still be listed while its pid
    // and names no longer read: who it is was settled when it started.
    if (auto known = active_.find(object); known != active_.end()) {
      record = known->second;
      continue;
    }
    out_.write({{"event", "start"}, {"app_id", record.bundleID}, {"app_name", record.name}, {"pid", record.pid}});
  }
  for (const auto& [object, record] : active_) {
    if (!now.contains(object))
      out_.write({{"event", "stop"}, {"app_id", record.bundleID}, {"app_name", record.name}, {"pid", record.pid}});
  }
  active_ = std::move(now);
  return listed || listed.error() != coreaudio::kAudioHardwareNotRunningError;
}

}  // namespace ostrel::micwatch
