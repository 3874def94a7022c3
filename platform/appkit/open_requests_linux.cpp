#include "platform/appkit/open_requests_linux.h"

#include <sys/inotify.h>

#include <asio/buffer.hpp>
#include <asio/post.hpp>

#include "platform/foundation/uuid.h"

namespace ostrel::appkit_linux {

std::expected<std::unique_ptr<OpenRequests>, Error> OpenRequests::create(WorkspaceFiles files) {
  auto queue = std::make_unique<asio::io_context>();
  // Watching before any request is written means no answer can slip past.
  auto answers = watchDirectory(*queue, files.openAnswers(), IN_CLOSE_WRITE | IN_MOVED_TO);
  if (!answers) return std::unexpected(answers.error());
  return std::unique_ptr<OpenRequests>(new OpenRequests(std::move(files), std::move(queue), std::move(*answers)));
}

OpenRequests::OpenRequests(WorkspaceFiles files, std::unique_ptr<asio::io_context> queue,
                           asio::posix::stream_descriptor answers)
    : files_(std::move(files)),
      queue_(std::move(queue)),
      keepRunning_(queue_->get_executor()),
      answers_(std::move(answers)) {
  awaitAnswers();
  thread_ = std::thread([this] { queue_->run(); });
}

OpenRequests::~OpenRequests() {
  queue_->stop();
  thread_.join();
  std::error_code ignored;
  for (const auto& [id, completion] : pending_) fs::remove(files_.openRequest(id), ignored);
}

void OpenRequests::submit(std::string requestJSON, OpenCompletion completion) {
  asio::post(*queue_, [this, requestJSON = std::move(requestJSON), completion = std::move(completion)]() mutable {
    const std::string id = makeUUIDString();
    if (auto written = writeFileAtomically(files_.openRequest(id), requestJSON); !written) {
      completion(std::unexpected(written.error()));
      return;
    }
    pending_.emplace(id, std::move(completion));
    collectAnswers();
  });
}

void OpenRequests::awaitAnswers() {
  answers_.async_read_some(asio::buffer(events_), [this](const asio::error_code& error, size_t) {
    if (error) return;  // stopped
    collectAnswers();
    awaitAnswers();
  });
}

// The events only say that something changed; every pending request looks
// for its own answer, so coalesced or overflowed events lose nothing.
void OpenRequests::collectAnswers() {
  for (auto it = pending_.begin(); it != pending_.end();) {
    auto answer = readOpenAnswer(files_.openAnswer(it->first));
    if (!answer) {
      ++it;
      continue;
    }
    std::error_code ignored;
    fs::remove(files_.openAnswer(it->first), ignored);
    fs::remove(files_.openRequest(it->first), ignored);
    OpenCompletion completion = std::move(it->second);
    it = pending_.erase(it);
    completion(std::move(*answer));
  }
}

}  // namespace ostrel::appkit_linux
