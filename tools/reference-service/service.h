#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "tools/reference-service/blob_store.h"
#include "tools/reference-service/faults.h"
#include "tools/reference-service/request_log.h"
#include "tools/reference-service/store.h"

namespace ostrel::refsvc {

// Everything the routes share: the persistent store and bytes, plus the
// test controls that live only as long as the process.
class Service {
 public:
  static Result<std::unique_ptr<Service>> open(const std::filesystem::path& dataDirectory);

  Store& store() { return *store_; }
  const BlobStore& blobs() const { return blobs_; }
  FaultRules& faults() { return faults_; }
  RequestLog& requests() { return requests_; }

  // "http://127.0.0.1:43117", known once the port is bound.
  const std::string& base() const { return base_; }
  void setBase(std::string base) { base_ = std::move(base); }

  // Tests ask for a number of refused drive requests, whatever token they carry.
  void refuseNextRequests(int64_t count) { pendingRefusals_.store(count); }
  bool takeRefusal();

  Result<bool> driveEnabled();
  Result<void> setDriveEnabled(bool enabled);

 private:
  Service(std::unique_ptr<Store> store, BlobStore blobs) : store_(std::move(store)), blobs_(std::move(blobs)) {}

  std::unique_ptr<Store> store_;
  BlobStore blobs_;
  FaultRules faults_;
  RequestLog requests_;
  std::string base_;
  std::atomic<int64_t> pendingRefusals_{0};
};

}  // namespace ostrel::refsvc
