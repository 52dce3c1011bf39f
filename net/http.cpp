// net::Get over libcurl's easy interface, with the process-wide limiter per origin.
#include "net/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace net {
namespace {

using Clock = std::chrono::steady_clock;

// curl_global_init is not thread-safe before libcurl 7.84; once for the process.
void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One slot per origin: the time the next request may start. A caller reserves its start time
// under the lock and sleeps outside it, so callers go in the order they came, a second apart.
class Limiter {
 public:
  // Waits for the turn; false when cancelled while waiting (the turn is then given back
  // unused, which only makes the next caller wait longer: never shorter).
  bool Wait(const std::string& origin, std::chrono::milliseconds interval, const std::atomic<bool>* cancel) {
    if (interval.count() <= 0) return true;
    Clock::time_point start;
    {
      std::lock_guard lock(mutex_);
      Clock::time_point& next = next_[origin];
      start = std::max(Clock::now(), next);
      next = start + interval;
    }
    while (Clock::now() < start) {
      if (cancel && cancel->load()) return false;
      std::this_thread::sleep_for(std::min<Clock::duration>(start - Clock::now(), std::chrono::milliseconds(50)));
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Clock::time_point> next_;
};

Limiter& limiter() {
  static Limiter l;
  return l;
}

struct CurlCloser {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistCloser {
  void operator()(curl_slist* s) const { curl_slist_free_all(s); }
};

struct Transfer {
  std::string body;
  std::size_t maxBody = 0;
  bool tooLarge = false;
  long retryAfter = -1;  // seconds, from the header
  const std::atomic<bool>* cancel = nullptr;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t->body.size() + n > t->maxBody) {
    t->tooLarge = true;
    return 0;  // makes curl stop with CURLE_WRITE_ERROR
  }
  t->body.append(data, n);
  return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  std::string line(data, n);
  std::string lower = line;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.rfind("retry-after:", 0) == 0) {
    try {
      t->retryAfter = std::stol(line.substr(12));
    } catch (...) {
      t->retryAfter = -1;  // an HTTP date: the default pause is used
    }
  }
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  return t->cancel && t->cancel->load() ? 1 : 0;
}

// One attempt, after the limiter's turn.
Response attempt(const Request& r, long& retryAfter) {
  Response out;
  if (!limiter().Wait(OriginOf(r.url), r.minInterval, r.cancel)) {
    out.outcome = Outcome::Cancelled;
    out.error = "cancelled";
    return out;
  }
  std::unique_ptr<CURL, CurlCloser> curl(curl_easy_init());
  if (!curl) {
    out.error = "cannot start a transfer";
    return out;
  }
  Transfer t;
  t.maxBody = r.maxBody;
  t.cancel = r.cancel;
  std::unique_ptr<curl_slist, SlistCloser> headers;
  if (!r.accept.empty()) headers.reset(curl_slist_append(nullptr, ("Accept: " + r.accept).c_str()));
  char errbuf[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(c, CURLOPT_USERAGENT, r.userAgent.c_str());
  if (headers) curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(r.timeout.count()));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(r.timeout.count()));
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // a worker thread must not get SIGALRM
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");  // whatever this libcurl can decode
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  // A declared length past the cap fails before the body is read.
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(r.maxBody));

  const CURLcode code = curl_easy_perform(c);
  out.attempts = 1;
  retryAfter = t.retryAfter;
  if (code == CURLE_OK) {
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &out.status);
    out.outcome = Outcome::Answered;
    out.body = std::move(t.body);
    return out;
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &out.status);
  if (t.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    out.outcome = Outcome::TooLarge;
    out.error = "the answer is larger than " + std::to_string(r.maxBody) + " bytes";
  } else if (code == CURLE_ABORTED_BY_CALLBACK) {
    out.outcome = Outcome::Cancelled;
    out.error = "cancelled";
  } else {
    out.outcome = Outcome::Unreachable;
    out.error = errbuf[0] ? errbuf : curl_easy_strerror(code);
  }
  return out;
}

}  // namespace

Response Get(const Request& request) {
  globalInit();
  int attempts = 0;
  for (int i = 0;; ++i) {
    long retryAfter = -1;
    Response r = attempt(request, retryAfter);
    attempts += r.attempts;
    r.attempts = attempts;
    if (!(r.outcome == Outcome::Answered && r.status == 503) || i >= request.retries503) return r;
    auto pause = retryAfter >= 0 ? std::chrono::milliseconds(std::min(retryAfter, 10L) * 1000) : request.retryPause;
    const auto until = Clock::now() + pause;
    while (Clock::now() < until) {
      if (request.cancel && request.cancel->load()) {
        r.outcome = Outcome::Cancelled;
        r.error = "cancelled";
        return r;
      }
      std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
    }
  }
}

std::string UserAgent() { return "Tessaly/" TESSALY_VERSION " ( https://tessaly.org )"; }

std::string Escape(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string OriginOf(std::string_view url) {
  std::string lower(url);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t scheme = lower.find("://");
  if (scheme == std::string::npos) return lower;
  const size_t end = lower.find_first_of("/?#", scheme + 3);
  std::string hostPart = lower.substr(scheme + 3, end == std::string::npos ? std::string::npos : end - scheme - 3);
  if (const size_t at = hostPart.rfind('@'); at != std::string::npos) hostPart.erase(0, at + 1);
  std::string origin = lower.substr(0, scheme + 3) + hostPart;
  // The default port is part of the origin, so "http://h" and "http://h:80" share a slot.
  const size_t bracket = hostPart.rfind(']');
  if (hostPart.find(':', bracket == std::string::npos ? 0 : bracket) == std::string::npos)
    origin += lower.rfind("https", 0) == 0 ? ":443" : ":80";
  return origin;
}

}  // namespace net
