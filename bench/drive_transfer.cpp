// Moves one file through the drive client, for the transfer benchmark:
//   drive_transfer upload   BASE TOKEN FILE PARENT   -> prints the upload id
//   drive_transfer download BASE TOKEN URL DIR       -> prints the file
// Timing and memory are measured from outside (bench/transfer_bench.sh).
#include <cstdio>
#include <string>

#include "drive/client/drive_api.h"

namespace {

class FixedToken final : public ostrel::drive::TokenSource {
 public:
  explicit FixedToken(std::string token) : token_(std::move(token)) {}
  std::expected<std::string, ostrel::Error> token(std::stop_token) override { return token_; }
  void invalidate() override {}

 private:
  std::string token_;
};

int fail(const ostrel::Error& error) {
  std::fprintf(stderr, "%s\n", error.localizedDescription().c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: drive_transfer upload|download BASE TOKEN FILE|URL PARENT|DIR\n");
    return 2;
  }
  const std::string command = argv[1];
  auto base = ostrel::URL::parse(argv[2]);
  if (!base) return 2;
  ostrel::drive::DriveAPI api(*base, std::make_shared<FixedToken>(argv[3]));
  if (command == "upload") {
    auto id = api.upload(argv[4], std::filesystem::path(argv[4]).filename().string(), argv[5], {});
    if (!id) return fail(id.error());
    std::printf("%s\n", id->c_str());
    return 0;
  }
  if (command == "download") {
    auto url = ostrel::URL::parse(argv[4]);
    if (!url) return 2;
    auto file = api.download(*url, argv[5], {});
    if (!file) return fail(file.error());
    std::printf("%s\n", file->c_str());
    return 0;
  }
  return 2;
}
