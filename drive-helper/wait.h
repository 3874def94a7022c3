#pragma once

#include <memory>
#include <optional>
#include <semaphore>
#include <utility>

namespace ostrel::drive::helper {

// Runs an operation that answers through a completion handler and blocks the
// calling thread, without a time limit, until the handler has run; returns
// what the handler was given. The handler may run on any thread, also before
// the operation returns.
template <class Result, class Operation>
Result wait(Operation&& operation) {
  struct Rendezvous {
    std::binary_semaphore done{0};
    std::optional<Result> value;
  };
  auto rendezvous = std::make_shared<Rendezvous>();
  std::forward<Operation>(operation)([rendezvous](Result value) {
    rendezvous->value.emplace(std::move(value));
    rendezvous->done.release();
  });
  rendezvous->done.acquire();
  return std::move(*rendezvous->value);
}

}  // namespace ostrel::drive::helper
