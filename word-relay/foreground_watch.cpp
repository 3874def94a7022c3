#include "word-relay/foreground_watch.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include "word-relay/relay_output.h"
#include "word-relay/word_application.h"

namespace ostrel::word {

namespace {

void reportFrontmost(const std::optional<RunningApplication>& application) {
  OutputObject event = applicationFields(application);
  event.insert(event.begin(), {"event", std::string("frontmost")});
  emit(event);
}

}  // namespace

Failure cmdWatch(const Workspace& workspace) {
  emit({{"event", std::string("hello")}});
  asio::io_context mainQueue;
  auto observation = workspace.observeActivations(mainQueue, reportFrontmost);
  if (!observation) return failures::watchFailed(observation.error().localizedDescription());
  reportFrontmost(workspace.frontmostApplication());
  auto forEver = asio::make_work_guard(mainQueue);
  mainQueue.run();
  return failures::watchFailed("the main queue stopped");
}

}  // namespace ostrel::word
