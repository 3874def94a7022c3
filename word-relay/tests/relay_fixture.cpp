#include "word-relay/tests/relay_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

extern char** environ;

namespace ostrel::word::testing {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFileAtomically(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  const fs::path temporary = file.string() + ".writing";
  std::ofstream(temporary, std::ios::binary) << text;
  fs::rename(temporary, file);
}

const Json wordApplication = {
    {"bundle_id", "com.microsoft.Word"}, {"name", "Microsoft Word"}, {"pid", 100}, {"path", "/Applications/Microsoft Word.app"}};
const Json finderApplication = {{"bundle_id", "com.apple.finder"}, {"name", "Finder"}, {"pid", 1}};

}  // namespace

RunningRelay::RunningRelay(RunningRelay&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      output_(std::exchange(other.output_, -1)),
      buffered_(std::move(other.buffered_)) {}

RunningRelay::~RunningRelay() {
  closeOutput();
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::optional<json::Value> RunningRelay::nextObject(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (buffered_.find('\n') == std::string::npos) {
    if (output_ < 0) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd readable{output_, POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(output_, chunk, sizeof chunk);
    if (n <= 0) {
      closeOutput();
    } else {
      buffered_.append(chunk, static_cast<size_t>(n));
    }
  }
  const size_t end = buffered_.find('\n');
  std::string line = buffered_.substr(0, end);
  buffered_.erase(0, end + 1);
  Json object = Json::parse(line, nullptr, false);
  EXPECT_FALSE(object.is_discarded()) << "not JSON: " << line;
  return object;
}

void RunningRelay::signal(int signal) const { ::kill(pid_, signal); }

void RunningRelay::closeOutput() {
  if (output_ >= 0) ::close(output_);
  output_ = -1;
}

std::optional<int> RunningRelay::waitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (pid_ > 0) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

void RelayFixture::SetUp() {
  char pattern[] = "/tmp/word-relay-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  root = pattern;
  home = root / "home";
  fs::create_directories(home / "Workspace");

  // The fake is run through python3 so that its file mode does not matter.
  std::ofstream(root / "osascript") << "#!/bin/sh\nexec python3 -S '" << FAKE_OSASCRIPT_SOURCE << "' \"$@\"\n";
  fs::permissions(root / "osascript", fs::perms::owner_all);
  std::ofstream(root / "scripts.jsonl").close();

  setWord({{"documents",
            {{{"name", "Brief.docx"}, {"full_name", "/Users/p/Matters/Brief.docx"}, {"path", "/Users/p/Matters"},
              {"saved", true}}}}});
  writeWorkspace("running.json", Json::array({finderApplication, wordApplication}));
  writeWorkspace("frontmost.json", finderApplication);
  writeWorkspace("applications.json", Json::array({wordApplication}));
}

void RelayFixture::TearDown() { fs::remove_all(root); }

void RelayFixture::setWord(const json::Value& state) const { writeFileAtomically(root / "word.json", state.dump()); }

json::Value RelayFixture::word() const { return Json::parse(readFile(root / "word.json")); }

std::vector<std::string> RelayFixture::scriptKindsSent() const {
  std::vector<std::string> kinds;
  std::istringstream lines(readFile(root / "scripts.jsonl"));
  for (std::string line; std::getline(lines, line);) {
    const Json entry = Json::parse(line);
    kinds.push_back(entry["kind"].is_string() ? entry["kind"].get<std::string>() : "(not recognised)");
  }
  return kinds;
}

std::vector<pid_t> RelayFixture::hungScript(std::chrono::milliseconds timeout) const {
  const fs::path file = root / "word.json.hung";
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!fs::exists(file)) {
    if (std::chrono::steady_clock::now() >= deadline) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Json::parse(readFile(file)).get<std::vector<pid_t>>();
}

void RelayFixture::writeWorkspace(const std::string& relative, const json::Value& content) const {
  writeFileAtomically(home / "Workspace" / relative, content.dump());
}

json::Value RelayFixture::readWorkspace(const std::string& relative) const {
  return Json::parse(readFile(home / "Workspace" / relative), nullptr, false);
}

void RelayFixture::appendActivation(const std::string& line) const {
  std::ofstream(home / "Workspace" / "activations.jsonl", std::ios::app) << line << "\n";
}

void RelayFixture::wordQuits() const { writeWorkspace("running.json", Json::array({finderApplication})); }

RunningRelay RelayFixture::start(const std::vector<std::string>& arguments, const Environment& extra) const {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    std::string text(*entry);
    const size_t equals = text.find('=');
    if (equals != std::string::npos && !text.starts_with("OSTREL_")) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  variables["OSTREL_HOME"] = home.string();
  variables["OSTREL_OSASCRIPT"] = (root / "osascript").string();
  variables["FAKE_WORD_STATE"] = (root / "word.json").string();
  variables["FAKE_WORD_LOG"] = (root / "scripts.jsonl").string();
  for (const auto& [name, value] : extra) variables[name] = value;
  std::vector<std::string> environment;
  for (const auto& [name, value] : variables) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::vector<std::string> argumentTexts{WORD_RELAY_BINARY};
  argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : argumentTexts) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int output[2];
  EXPECT_EQ(::pipe2(output, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, WORD_RELAY_BINARY, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(output[1]);
  EXPECT_EQ(spawned, 0) << "could not start " << WORD_RELAY_BINARY;
  return RunningRelay(spawned == 0 ? pid : -1, output[0]);
}

json::Value RelayFixture::run(const std::vector<std::string>& arguments, const Environment& extra) const {
  RunningRelay relay = start(arguments, extra);
  auto object = relay.nextObject(std::chrono::seconds(30));
  EXPECT_TRUE(object.has_value()) << "no output";
  EXPECT_EQ(relay.nextObject(std::chrono::seconds(10)), std::nullopt) << "more than one line";
  EXPECT_EQ(relay.waitForExit(), 0);
  return object.value_or(Json());
}

json::Value failure(const std::string& code, const std::string& message) {
  return {{"ok", false}, {"code", code}, {"error", message}};
}

}  // namespace ostrel::word::testing
