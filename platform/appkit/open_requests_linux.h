#pragma once

#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>

#include "platform/appkit/workspace.h"
#include "platform/appkit/workspace_files_linux.h"

namespace ostrel::appkit_linux {

// "Open these files with that application" requests of the stand-in: each
// is a file in open-requests/ that a test or a person answers with a file of
// the same name in open-answers/. Completions run on a queue of our own.
class OpenRequests {
 public:
  static std::expected<std::unique_ptr<OpenRequests>, Error> create(WorkspaceFiles files);
  // Withdraws the requests still unanswered; their completions never run.
  ~OpenRequests();
  OpenRequests(const OpenRequests&) = delete;
  OpenRequests& operator=(const OpenRequests&) = delete;

  void submit(std::string requestJSON, OpenCompletion completion);

 private:
  OpenRequests(WorkspaceFiles files, std::unique_ptr<asio::io_context> queue,
               asio::posix::stream_descriptor answers);
  void awaitAnswers();
  void collectAnswers();

  WorkspaceFiles files_;
  std::unique_ptr<asio::io_context> queue_;
  asio::executor_work_guard<asio::io_context::executor_type> keepRunning_;
  asio::posix::stream_descriptor answers_;
  std::array<char, 4096> events_{};
  // Only touched on the queue (and after it has stopped).
  std::map<std::string, OpenCompletion> pending_;
  std::thread thread_;
};

}  // namespace ostrel::appkit_linux
