// A small HTTP GET over libcurl for the web services the program asks (MusicBrainz,
// AccurateRip). Toolkit-free and safe to call from any thread.
//
// Usage: fill a net::Request (the whole URL, the User-Agent, the limits) and call net::Get;
// it blocks until an answer, a timeout or a cancel. Every request to the same origin
// (scheme://host:port) waits for its turn in one process-wide limiter, so no two of them
// start less than `minInterval` apart, whichever thread or window sends them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace net {

struct Request {
  std::string url;        // absolute, already encoded (see Escape)
  std::string userAgent;  // see UserAgent(); sent as given
  std::string accept;     // the Accept header; empty sends none
  std::chrono::milliseconds timeout{10000};     // the whole exchange, connection included
  std::size_t maxBody = 4 * 1024 * 1024;        // bytes; a longer body fails as TooLarge
  // Between two starts to this origin; 0: no limit. A second and a margin, so that the jitter of
  // connecting never brings two requests closer than a second where they arrive.
  std::chrono::milliseconds minInterval{1100};
  int retries503 = 0;                           // 503 answers retried, each after a pause
  std::chrono::milliseconds retryPause{1000};   // the pause, or the answer's Retry-After (capped at 10 s)
  const std::atomic<bool>* cancel = nullptr;    // set from another thread: the exchange ends as Cancelled
};

enum class Outcome {
  Answered,     // an HTTP status came back (any status: check `status`)
  Unreachable,  // no connection, no answer in time, a broken transfer: see `error`
  TooLarge,     // the body went past maxBody; what came is dropped
  Cancelled,    // Request::cancel was set
};

struct Response {
  Outcome outcome = Outcome::Unreachable;
  long status = 0;        // the HTTP status of the last attempt; 0 without an answer
  std::string body;       // the body as received (bytes), when Answered
  std::string error;      // why not Answered, as one short line ("Timeout was reached")
  int attempts = 0;       // requests sent, retries included
  bool ok() const { return outcome == Outcome::Answered && status >= 200 && status < 300; }
};

// Sends the request (waiting for the limiter first) and returns what came of it; never throws
// for network trouble.
Response Get(const Request& request);

// "Tessaly/2.3 ( https://tessaly.org )": the program, its version and its web address.
std::string UserAgent();

// Percent-encodes everything but RFC 3986's unreserved characters, for a query value.
std::string Escape(std::string_view text);

// The origin a URL's requests are limited by: "scheme://host:port" in lower case.
std::string OriginOf(std::string_view url);

}  // namespace net
