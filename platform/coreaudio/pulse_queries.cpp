#include "platform/coreaudio/pulse_queries.h"

namespace ostrel::coreaudio::pulse {

namespace {

std::string property(pa_proplist* properties, const char* key) {
  const char* value = properties ? pa_proplist_gets(properties, key) : nullptr;
  return value ? value : "";
}

template <class Item>
struct Collected {
  pa_threaded_mainloop* loop;
  std::vector<Item> items;
};

void sinkArrived(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
  auto* out = static_cast<Collected<Device>*>(userdata);
  if (eol || !info) {
    pa_threaded_mainloop_signal(out->loop, 0);
    return;
  }
  out->items.push_back({.id = sinkTag | info->index,
                        .name = info->name ? info->name : "",
                        .monitorSource = info->monitor_source_name ? info->monitor_source_name : "",
                        .isSource = false,
                        .rate = info->sample_spec.rate,
                        .channels = info->sample_spec.channels,
                        .bus = property(info->proplist, PA_PROP_DEVICE_BUS),
                        .formFactor = property(info->proplist, PA_PROP_DEVICE_FORM_FACTOR)});
}

struct SourceCollection {
  Collected<Device> devices;
  bool monitors = false;
};

void sourceArrived(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* out = static_cast<SourceCollection*>(userdata);
  if (eol || !info) {
    pa_threaded_mainloop_signal(out->devices.loop, 0);
    return;
  }
  const bool isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
  if (isMonitor != out->monitors) return;
  out->devices.items.push_back({.id = sourceTag | info->index,
                                .name = info->name ? info->name : "",
                                .isSource = true,
                                .rate = info->sample_spec.rate,
                                .channels = info->sample_spec.channels,
                                .bus = property(info->proplist, PA_PROP_DEVICE_BUS),
                                .formFactor = property(info->proplist, PA_PROP_DEVICE_FORM_FACTOR)});
}

std::optional<std::vector<Device>> listSources(Connection& connection, bool monitors) {
  LoopLock lock(connection.loop());
  SourceCollection sources{{connection.loop(), {}}, monitors};
  if (!connection.await(pa_context_get_source_info_list(connection.context(), sourceArrived, &sources)))
    return std::nullopt;
  return std::move(sources.devices.items);
}

void serverArrived(pa_context*, const pa_server_info* info, void* userdata) {
  auto* out = static_cast<std::pair<pa_threaded_mainloop*, ServerDefaults>*>(userdata);
  if (info) {
    out->second.sink = info->default_sink_name ? info->default_sink_name : "";
    out->second.source = info->default_source_name ? info->default_source_name : "";
  }
  pa_threaded_mainloop_signal(out->first, 0);
}

void sourceOutputArrived(pa_context*, const pa_source_output_info* info, int eol, void* userdata) {
  auto* out = static_cast<Collected<SourceOutput>*>(userdata);
  if (eol || !info) {
    pa_threaded_mainloop_signal(out->loop, 0);
    return;
  }
  const std::string method = info->resample_method ? info->resample_method : "";
  out->items.push_back({.id = processTag | info->index,
                        .source = info->source,
                        .corked = info->corked != 0,
                        .peakDetect = method == "peaks",
                        .fromClient = info->client != PA_INVALID_INDEX,
                        .processID = property(info->proplist, PA_PROP_APPLICATION_PROCESS_ID),
                        .appID = property(info->proplist, PA_PROP_APPLICATION_ID),
                        .binary = property(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY)});
}

}  // namespace

std::optional<std::vector<Device>> listDevices(Connection& connection) {
  std::vector<Device> devices;
  {
    LoopLock lock(connection.loop());
    Collected<Device> sinks{connection.loop(), {}};
    if (!connection.await(pa_context_get_sink_info_list(connection.context(), sinkArrived, &sinks)))
      return std::nullopt;
    devices = std::move(sinks.items);
  }
  auto sources = listSources(connection, false);
  if (!sources) return std::nullopt;
  devices.insert(devices.end(), sources->begin(), sources->end());
  return devices;
}

std::optional<std::vector<Device>> listMonitorSources(Connection& connection) { return listSources(connection, true); }

std::optional<ServerDefaults> serverDefaults(Connection& connection) {
  LoopLock lock(connection.loop());
  std::pair<pa_threaded_mainloop*, ServerDefaults> out{connection.loop(), {}};
  if (!connection.await(pa_context_get_server_info(connection.context(), serverArrived, &out))) return std::nullopt;
  return out.second;
}

std::optional<std::vector<SourceOutput>> listSourceOutputs(Connection& connection) {
  LoopLock lock(connection.loop());
  Collected<SourceOutput> outputs{connection.loop(), {}};
  if (!connection.await(pa_context_get_source_output_info_list(connection.context(), sourceOutputArrived, &outputs)))
    return std::nullopt;
  return std::move(outputs.items);
}

}  // namespace ostrel::coreaudio::pulse
