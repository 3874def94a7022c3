#include "word-relay/word_application.h"

namespace ostrel::word {

std::expected<void, Failure> requireWordRunning(const Workspace& workspace) {
  if (workspace.runningApplications(wordBundleID).empty()) return std::unexpected(failures::wordNotRunning());
  return {};
}

OutputObject applicationFields(const std::optional<RunningApplication>& application) {
  std::string appID = application ? application->bundleIdentifier.value_or("") : "";
  std::string appName = application ? application->localizedName.value_or("") : "";
  const bool isWord = appID == wordBundleID;
  return {{"app_id", std::move(appID)}, {"app_name", std::move(appName)}, {"is_word", isWord}};
}

}  // namespace ostrel::word
