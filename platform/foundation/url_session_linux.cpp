#include <curl/curl.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>

#include "platform/foundation/url_session.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel {

namespace {

void ensureCurlInitialised() {
  static const bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)initialised;
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;
using File = std::unique_ptr<std::FILE, FileCloser>;

// One request in flight: where the answer's bytes go and where the
// request's bytes come from.
struct Transfer {
  std::function<bool(const char*, size_t)> sink;  // false stops the transfer
  std::optional<Error> sinkError;                 // why the sink stopped it
  std::FILE* source = nullptr;
  CURL* handle = nullptr;                         // while it runs

  // The status of the answer whose body arrives.
  long status() const {
    long code = 0;
    if (handle) curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    return code;
  }
};

size_t onWrite(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const size_t length = size * count;
  return transfer->sink(data, length) ? length : 0;
}

size_t onRead(char* buffer, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const size_t read = std::fread(buffer, 1, size * count, transfer->source);
  if (read == 0 && std::ferror(transfer->source)) return CURL_READFUNC_ABORT;
  return read;
}

Error errorFor(CURLcode code) {
  const std::string text = curl_easy_strerror(code);
  switch (code) {
    case CURLE_ABORTED_BY_CALLBACK: return URLError::make(URLError::cancelled, "cancelled");
    case CURLE_URL_MALFORMAT: return URLError::make(URLError::badURL, text);
    case CURLE_UNSUPPORTED_PROTOCOL: return URLError::make(URLError::unsupportedURL, text);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return URLError::make(URLError::cannotFindHost, text);
    case CURLE_COULDNT_CONNECT: return URLError::make(URLError::cannotConnectToHost, text);
    case CURLE_OPERATION_TIMEDOUT: return URLError::make(URLError::timedOut, text);
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return URLError::make(URLError::networkConnectionLost, text);
    case CURLE_WEIRD_SERVER_REPLY: return URLError::make(URLError::badServerResponse, text);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE: return URLError::make(URLError::secureConnectionFailed, text);
    case CURLE_READ_ERROR: return URLError::make(URLError::cannotOpenFile, text);
    default: return URLError::make(URLError::unknown, text);
  }
}

}  // namespace

// The connection cache and DNS cache every request of one session shares.
class URLSession::Shared {
 public:
  Shared() : share_(curl_share_init()) {
    if (!share_) return;
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Shared::lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Shared::unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }
  ~Shared() {
    if (share_) curl_share_cleanup(share_);
  }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;

  CURLSH* handle() const { return share_; }

  std::expected<long, Error> perform(const URLSessionConfiguration& configuration, const URLRequest& request,
                                     Transfer& transfer, std::optional<curl_off_t> uploadSize,
                                     std::stop_token stop) const;

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* context) {
    static_cast<Shared*>(context)->mutexes_[static_cast<size_t>(data) % kLocks].lock();
  }
  static void unlock(CURL*, curl_lock_data data, void* context) {
    static_cast<Shared*>(context)->mutexes_[static_cast<size_t>(data) % kLocks].unlock();
  }

  static constexpr size_t kLocks = CURL_LOCK_DATA_LAST;
  CURLSH* share_;
  mutable std::array<std::mutex, kLocks> mutexes_;
};

std::expected<long, Error> URLSession::Shared::perform(const URLSessionConfiguration& configuration,
                                                       const URLRequest& request, Transfer& transfer,
                                                       std::optional<curl_off_t> uploadSize,
                                                       std::stop_token stop) const {
  if (stop.stop_requested()) return std::unexpected(URLError::make(URLError::cancelled, "cancelled"));
  EasyHandle easy(curl_easy_init());
  MultiHandle multi(curl_multi_init());
  if (!easy || !multi) return std::unexpected(URLError::make(URLError::unknown, "could not start a transfer"));
  CURL* h = easy.get();

  const auto timeout = request.timeout.value_or(configuration.timeoutIntervalForRequest);
  const long timeoutSeconds = std::max<long>(1, static_cast<long>((timeout.count() + 999) / 1000));

  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Ostrel/1.0");
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count()));
  // No answer byte for the whole time-out ends the request; a slow but
  // moving transfer goes on.
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timeoutSeconds);
  if (share_) curl_easy_setopt(h, CURLOPT_SHARE, share_);
  // Large reads and writes per call keep bulk transfers near the wire's speed.
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onWrite);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  transfer.handle = h;

  bool hasContentType = false;
  HeaderList headers;
  auto addHeader = [&headers](const std::string& line) {
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (grown) {
      (void)headers.release();
      headers.reset(grown);
    }
  };
  for (const auto& [name, value] : request.headers) {
    // A NUL would cut the field short: "Bearer good\0rest" must not go out as "Bearer good".
    constexpr std::string_view breaksLine("\r\n\0", 3);
    if (name.find_first_of(breaksLine) != std::string::npos || name.find(':') != std::string::npos ||
        value.find_first_of(breaksLine) != std::string::npos) {
      return std::unexpected(URLError::make(URLError::badURL, "bad header field " + name));
    }
    if (strcasecmp(name.c_str(), "Content-Type") == 0) hasContentType = true;
    // "Name;" sends a header with an empty value; "Name:" would remove it.
    addHeader(value.empty() ? name + ";" : name + ": " + value);
  }

  if (transfer.source) {
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &onRead);
    curl_easy_setopt(h, CURLOPT_READDATA, &transfer);
    if (uploadSize) curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, *uploadSize);
    // Large bodies would otherwise wait up to a second for "100 Continue".
    addHeader("Expect:");
    if (request.method != "PUT") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  } else if (request.body || request.method == "POST" || request.method == "PUT" || request.method == "PATCH") {
    // The handle keeps its own copy: JSON bodies are small.
    const char* body = request.body ? request.body->data() : "";
    const size_t size = request.body ? request.body->size() : 0;
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, body);
    if (request.method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (!hasContentType) addHeader("Content-Type:");
  } else if (request.method == "HEAD") {
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else if (request.method != "GET") {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

  curl_multi_add_handle(multi.get(), h);
  CURLcode result = CURLE_OK;
  {
    // Cancellation wakes the poll below at once.
    std::stop_callback wake(stop, [m = multi.get()] { curl_multi_wakeup(m); });
    int running = 1;
    while (running) {
      if (stop.stop_requested()) {
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
      if (CURLMcode rc = curl_multi_perform(multi.get(), &running); rc != CURLM_OK) {
        result = CURLE_FAILED_INIT;
        break;
      }
      if (!running) break;
      curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
    }
    if (!running) {
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE) result = message->data.result;
      }
    }
  }
  curl_multi_remove_handle(multi.get(), h);

  if (stop.stop_requested()) return std::unexpected(URLError::make(URLError::cancelled, "cancelled"));
  if (result != CURLE_OK) {
    if (result == CURLE_WRITE_ERROR && transfer.sinkError) return std::unexpected(*transfer.sinkError);
    return std::unexpected(errorFor(result));
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

URLSession::URLSession(URLSessionConfiguration configuration)
    : configuration_(configuration), shared_((ensureCurlInitialised(), std::make_unique<Shared>())) {}

URLSession::~URLSession() = default;

std::expected<HTTPResponse, Error> URLSession::data(const URLRequest& request, std::stop_token stop) const {
  HTTPResponse response;
  Transfer transfer;
  const size_t limit = configuration_.maximumResponseBytes;
  transfer.sink = [&response, &transfer, limit](const char* bytes, size_t length) {
    if (response.body.size() + length > limit) {
      transfer.sinkError = URLError::make(URLError::dataLengthExceedsMaximum, "the answer is too large");
      return false;
    }
    response.body.append(bytes, length);
    return true;
  };
  auto status = shared_->perform(configuration_, request, transfer, std::nullopt, std::move(stop));
  if (!status) return std::unexpected(status.error());
  response.status = *status;
  return response;
}

std::expected<DownloadResponse, Error> URLSession::download(const URLRequest& request,
                                                            const std::filesystem::path& directory,
                                                            std::stop_token stop,
                                                            const DownloadObserver& observer) const {
  std::string pattern = (directory / ".download-XXXXXX").string();
  UniqueFd file(mkostemp(pattern.data(), O_CLOEXEC));
  if (!file) return std::unexpected(URLError::make(URLError::cannotCreateFile, std::strerror(errno)));
  const std::filesystem::path temporary = pattern;

  // Written straight to the descriptor, so that what arrived can be read at once.
  uint64_t written = 0;
  Transfer transfer;
  transfer.sink = [&](const char* bytes, size_t length) {
    for (size_t done = 0; done < length;) {
      const ssize_t wrote = ::write(file.get(), bytes + done, length - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        transfer.sinkError = URLError::make(URLError::cannotWriteToFile, std::strerror(errno));
        return false;
      }
      done += static_cast<size_t>(wrote);
    }
    written += length;
    if (observer) {
      const long status = transfer.status();
      if (status >= 200 && status <= 299) observer(temporary, written);
    }
    return true;
  };
  auto status = shared_->perform(configuration_, request, transfer, std::nullopt, std::move(stop));
  const bool closed = file.close();
  std::error_code ignored;
  if (!status) {
    std::filesystem::remove(temporary, ignored);
    return std::unexpected(status.error());
  }
  if (!closed) {
    std::filesystem::remove(temporary, ignored);
    return std::unexpected(URLError::make(URLError::cannotWriteToFile, "could not finish the download file"));
  }
  return DownloadResponse{*status, temporary};
}

std::expected<HTTPResponse, Error> URLSession::upload(const URLRequest& request, const std::filesystem::path& file,
                                                      std::stop_token stop) const {
  File source(std::fopen(file.c_str(), "rb"));
  if (!source) return std::unexpected(URLError::make(URLError::cannotOpenFile, std::strerror(errno)));
  std::error_code sizeError;
  const auto size = std::filesystem::file_size(file, sizeError);

  HTTPResponse response;
  Transfer transfer;
  transfer.source = source.get();
  const size_t limit = configuration_.maximumResponseBytes;
  transfer.sink = [&response, limit](const char* bytes, size_t length) {
    // The answer to a put is small; anything past the limit is dropped.
    if (response.body.size() + length <= limit) response.body.append(bytes, length);
    return true;
  };
  auto status = shared_->perform(configuration_, request, transfer,
                                 sizeError ? std::nullopt : std::optional<curl_off_t>(static_cast<curl_off_t>(size)),
                                 std::move(stop));
  if (!status) return std::unexpected(status.error());
  response.status = *status;
  return response;
}

}  // namespace ostrel
