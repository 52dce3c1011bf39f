// SPDX-License-Identifier: GPL-3.0-or-later
// The digital player over libpulse's asynchronous API. Three threads meet here: the caller's,
// libpulse's main-loop thread (the callbacks) and one playback thread per started track, which
// reads sectors ahead into a FIFO of about two seconds and hands them to the server as fast as
// the server asks. Everything they share is guarded by the main loop's lock; the FIFO and the
// libcdio handle belong to the playback thread alone, so the caller's own reads of the drive
// never race it.
#include "cdrip_player.h"
#include "cdrip_internal.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace cdrip_internal {
namespace {

constexpr int32_t kSectorBytes = CDIO_CD_FRAMESIZE_RAW;  // 2352
constexpr int64_t kFramesPerSector = 588;
constexpr size_t kFrameBytes = 4;               // 16-bit stereo
constexpr int32_t kReadSectors = 8;             // about a tenth of a second per read
constexpr int32_t kAheadSectors = 150;          // two seconds read ahead
constexpr pa_usec_t kServerLatency = 250 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kConnectTimeout = 3 * PA_USEC_PER_SEC;
constexpr pa_usec_t kCommandTimeout = 2 * PA_USEC_PER_SEC;
// After a server that took too long to answer, starts fail at once for a while instead of
// freezing the window again at every press and every timer tick.
constexpr auto kQuietAfterTimeout = std::chrono::seconds(30);

const pa_sample_spec kCdFormat{PA_SAMPLE_S16LE, 44100, 2};

struct HandleCloser {
  void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
using Handle = std::unique_ptr<CdIo_t, HandleCloser>;

// The main loop's callbacks only wake whoever waits; the waiters look at the state themselves.
void wake(pa_threaded_mainloop* ml) { pa_threaded_mainloop_signal(ml, 0); }
void onContextEvent(pa_context*, void* ml) { wake(static_cast<pa_threaded_mainloop*>(ml)); }
void onStreamEvent(pa_stream*, void* ml) { wake(static_cast<pa_threaded_mainloop*>(ml)); }
void onWritable(pa_stream*, size_t, void* ml) { wake(static_cast<pa_threaded_mainloop*>(ml)); }
void onOperation(pa_operation*, void* ml) { wake(static_cast<pa_threaded_mainloop*>(ml)); }

// A moment after which a wait on the main loop gives up. Used with the loop locked.
class Deadline {
 public:
  Deadline(pa_threaded_mainloop* ml, pa_context* ctx, pa_usec_t after) : ml_(ml) {
    ev_ = pa_context_rttime_new(ctx, pa_rtclock_now() + after, &Deadline::fire, this);
  }
  ~Deadline() {
    if (ev_) pa_threaded_mainloop_get_api(ml_)->time_free(ev_);
  }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;
  bool passed() const { return passed_ || !ev_; }

 private:
  static void fire(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
    auto* d = static_cast<Deadline*>(self);
    d->passed_ = true;
    wake(d->ml_);
  }
  pa_threaded_mainloop* ml_;
  pa_time_event* ev_ = nullptr;
  bool passed_ = false;
};

// Waits (loop locked) until the operation is done or the deadline passes; false on either a
// failure or a timeout. Consumes the caller's reference.
bool finish(pa_threaded_mainloop* ml, pa_context* ctx, pa_operation* op) {
  if (!op) return false;
  pa_operation_set_state_callback(op, onOperation, ml);
  {
    Deadline deadline(ml, ctx, kCommandTimeout);
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && !deadline.passed())
      pa_threaded_mainloop_wait(ml);
  }
  const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
  if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
  pa_operation_unref(op);
  return done;
}

// One connection to the sound server, with the main-loop thread that serves it.
class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (!ml) return;
    pa_threaded_mainloop_lock(ml);
    if (ctx) {
      pa_context_set_state_callback(ctx, nullptr, nullptr);
      pa_context_disconnect(ctx);
      pa_context_unref(ctx);
    }
    pa_threaded_mainloop_unlock(ml);
    pa_threaded_mainloop_stop(ml);
    pa_threaded_mainloop_free(ml);
  }

  // Connects to the desktop's server (PULSE_SERVER and the usual places; never starts one).
  bool open(std::string& why, bool& timedOut) {
    timedOut = false;
    ml = pa_threaded_mainloop_new();
    if (!ml || pa_threaded_mainloop_start(ml) < 0) {
      why = "cannot start libpulse's main loop";
      return false;
    }
    pa_threaded_mainloop_lock(ml);
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Tessaly");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "tessaly");
    ctx = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(ml), "Tessaly", props);
    pa_proplist_free(props);
    bool ok = false;
    if (!ctx) {
      why = "cannot make a libpulse context";
    } else {
      pa_context_set_state_callback(ctx, onContextEvent, ml);
      if (pa_context_connect(ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        why = pa_strerror(pa_context_errno(ctx));
      } else {
        Deadline deadline(ml, ctx, kConnectTimeout);
        for (;;) {
          const pa_context_state_t st = pa_context_get_state(ctx);
          if (st == PA_CONTEXT_READY) {
            ok = true;
            break;
          }
          if (!PA_CONTEXT_IS_GOOD(st)) {
            why = pa_strerror(pa_context_errno(ctx));
            break;
          }
          if (deadline.passed()) {
            why = "the sound server did not answer within " +
                  std::to_string(kConnectTimeout / PA_USEC_PER_SEC) + " seconds";
            timedOut = true;
            break;
          }
          pa_threaded_mainloop_wait(ml);
        }
      }
    }
    pa_threaded_mainloop_unlock(ml);
    return ok;
  }

  bool ready() {
    pa_threaded_mainloop_lock(ml);
    const bool ok = ctx && pa_context_get_state(ctx) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(ml);
    return ok;
  }

  pa_threaded_mainloop* ml = nullptr;
  pa_context* ctx = nullptr;
};

// Bytes read but not yet handed to the server; the playback thread's own.
class ByteFifo {
 public:
  explicit ByteFifo(size_t capacity) : buf_(capacity) {}
  size_t size() const { return tail_ - head_; }
  size_t room() const { return buf_.size() - size(); }
  const uint8_t* data() const { return buf_.data() + head_; }
  void pop(size_t n) {
    head_ += n;
    if (head_ == tail_) head_ = tail_ = 0;
  }
  // Room for n bytes at the tail, to be filled and then committed with grow(n).
  uint8_t* reserve(size_t n) {
    if (tail_ + n > buf_.size()) {
      std::memmove(buf_.data(), buf_.data() + head_, size());
      tail_ -= head_;
      head_ = 0;
    }
    return buf_.data() + tail_;
  }
  void grow(size_t n) { tail_ += n; }

 private:
  std::vector<uint8_t> buf_;
  size_t head_ = 0, tail_ = 0;
};

// One started track.
struct Session {
  std::shared_ptr<Connection> conn;  // outlives the stream and the thread
  Handle cdio;                       // the playback thread's alone
  int32_t track = 0, first = 0, last = 0;
  int64_t totalFrames = 0;
  std::thread thread;

  // Guarded by the main loop's lock.
  pa_stream* stream = nullptr;
  pa_operation* drainOp = nullptr;
  pa_time_event* tailTimer = nullptr;
  bool stop = false;     // the caller wants the thread gone
  bool reading = false;  // the thread is inside a read of the disc
  bool paused = false;
  bool drained = false;   // the server has taken the last byte
  bool tailDone = false;  // and has had time to play it
  bool ended = false;     // the stream is gone: end of track or a lost server
  int64_t heard = 0;      // frames of the track heard so far; never decreases
};

// The frames heard so far, from what the server reports it has played (latency-corrected and
// interpolated between its reports), never merely from what was written. Loop locked.
int64_t heardNow(Session& s) {
  if (s.stream && !s.paused && !s.ended) {
    pa_usec_t t = 0;
    if (pa_stream_get_time(s.stream, &t) == 0) {
      const auto frames = static_cast<int64_t>(t * kCdFormat.rate / PA_USEC_PER_SEC);
      s.heard = std::max(s.heard, std::min(frames, s.totalFrames));
    }
  }
  return s.heard;
}

// Takes the stream away from the server at once. Loop locked.
void closeStream(Session& s) {
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(s.conn->ml);
  if (s.tailTimer) api->time_free(s.tailTimer);
  s.tailTimer = nullptr;
  if (s.drainOp) {
    if (pa_operation_get_state(s.drainOp) == PA_OPERATION_RUNNING) pa_operation_cancel(s.drainOp);
    pa_operation_unref(s.drainOp);
    s.drainOp = nullptr;
  }
  if (s.stream) {
    pa_stream_set_state_callback(s.stream, nullptr, nullptr);
    pa_stream_set_write_callback(s.stream, nullptr, nullptr);
    pa_stream_disconnect(s.stream);
    pa_stream_unref(s.stream);
    s.stream = nullptr;
  }
}

void onDrained(pa_stream*, int, void* session) {
  auto* s = static_cast<Session*>(session);
  s->drained = true;
  wake(s->conn->ml);
}

void onTailPlayed(pa_mainloop_api*, pa_time_event*, const timeval*, void* session) {
  auto* s = static_cast<Session*>(session);
  s->tailDone = true;
  wake(s->conn->ml);
}

// Plain reads, no error correction: playback must not stall. A sector that fails once more on
// its own plays as silence.
void readSectors(CdIo_t* p, int32_t lsn, int32_t n, uint8_t* out) {
  if (cdrip_internal::readAudioSectors(p, out, lsn, static_cast<uint32_t>(n)) == DRIVER_OP_SUCCESS) return;
  for (int32_t i = 0; i < n; ++i) {
    uint8_t* sector = out + static_cast<size_t>(i) * kSectorBytes;
    if (cdio_read_audio_sector(p, sector, lsn + i) == DRIVER_OP_SUCCESS) continue;
    if (cdio_read_audio_sector(p, sector, lsn + i) == DRIVER_OP_SUCCESS) continue;
    std::memset(sector, 0, kSectorBytes);
  }
}

// The playback thread: reads ahead, writes what the server asks for, drains at the end.
void playLoop(const std::shared_ptr<Session>& keep) {
  Session& s = *keep;
  pa_threaded_mainloop* ml = s.conn->ml;
  ByteFifo fifo(static_cast<size_t>(kAheadSectors) * kSectorBytes);
  int32_t next = s.first;
  pa_threaded_mainloop_lock(ml);
  while (!s.stop && !s.ended) {
    if (!s.stream || !PA_STREAM_IS_GOOD(pa_stream_get_state(s.stream))) {
      // The server went away: the track ends where it was heard last.
      closeStream(s);
      s.ended = true;
      break;
    }
    if (fifo.size() > 0) {
      const size_t asked = pa_stream_writable_size(s.stream);
      if (asked != static_cast<size_t>(-1) && asked > 0) {
        const size_t n = std::min(asked, fifo.size()) / kFrameBytes * kFrameBytes;
        if (n > 0 && pa_stream_write(s.stream, fifo.data(), n, nullptr, 0, PA_SEEK_RELATIVE) == 0)
          fifo.pop(n);
      }
    }
    const int32_t n = std::min(kReadSectors, s.last - next + 1);
    if (n > 0 && fifo.room() >= static_cast<size_t>(n) * kSectorBytes) {
      // The drive may take its time (a spin-up): read with the loop unlocked.
      uint8_t* into = fifo.reserve(static_cast<size_t>(n) * kSectorBytes);
      s.reading = true;
      pa_threaded_mainloop_unlock(ml);
      readSectors(s.cdio.get(), next, n, into);
      pa_threaded_mainloop_lock(ml);
      s.reading = false;
      fifo.grow(static_cast<size_t>(n) * kSectorBytes);
      next += n;
      continue;
    }
    if (fifo.size() == 0 && next > s.last) {
      // All is with the server: let it play the rest, then give the sink time to sound it
      // before the stream goes (a stream removed at once could take its last moment along).
      if (!s.drainOp && !s.drained) {
        s.drainOp = pa_stream_drain(s.stream, onDrained, &s);
        if (!s.drainOp) s.drained = true;  // refused: nothing to wait for
      }
      if (s.drained && !s.tailTimer && !s.paused) {
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(s.stream, &latency, &negative) != 0 || negative) latency = 0;
        s.tailTimer = pa_context_rttime_new(s.conn->ctx, pa_rtclock_now() + latency + 20 * PA_USEC_PER_MSEC,
                                            onTailPlayed, &s);
        if (!s.tailTimer) s.tailDone = true;
      }
      if (s.tailDone && !s.paused) {
        closeStream(s);
        s.heard = s.totalFrames;
        s.ended = true;
        break;
      }
    }
    pa_threaded_mainloop_wait(ml);
  }
  pa_threaded_mainloop_unlock(ml);
}

class Player {
 public:
  Player() = default;
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  ~Player() { stop(); }

  bool start(Handle handle, int32_t track, int32_t first, int32_t last, std::string& why) {
    stop();
    auto s = std::make_shared<Session>();
    s->cdio = std::move(handle);
    s->track = track;
    s->first = first;
    s->last = last;
    s->totalFrames = static_cast<int64_t>(last - first + 1) * kFramesPerSector;
    // A connection kept from an earlier track may have lost a server that went away or was
    // restarted since; then one fresh connection is tried.
    for (;;) {
      const bool fresh = !conn_ || !conn_->ready();
      if (!connect(why)) return false;
      s->conn = conn_;
      pa_threaded_mainloop* ml = conn_->ml;
      pa_threaded_mainloop_lock(ml);
      const bool ok = openStream(*s, why);
      if (ok) {
        s->thread = std::thread([s] { playLoop(s); });
      } else {
        closeStream(*s);
      }
      pa_threaded_mainloop_unlock(ml);
      if (ok) break;
      s->conn.reset();
      conn_.reset();
      if (fresh) return false;
    }
    session_ = std::move(s);
    lastTrack_ = track;
    lastFrames_ = static_cast<int64_t>(first) * kFramesPerSector;
    return true;
  }

  bool pause(bool pause) {
    if (!session_) return false;
    Session& s = *session_;
    pa_threaded_mainloop* ml = s.conn->ml;
    pa_threaded_mainloop_lock(ml);
    bool ok = s.stream && !s.ended;
    if (ok && pause != s.paused) {
      ok = finish(ml, s.conn->ctx, pa_stream_cork(s.stream, pause ? 1 : 0, nullptr, nullptr));
      if (ok && pause) {
        // The position to hold is what the server has played up to the cork.
        finish(ml, s.conn->ctx, pa_stream_update_timing_info(s.stream, nullptr, nullptr));
        heardNow(s);
        s.paused = true;
      } else if (ok) {
        s.paused = false;
        if (s.tailTimer) {
          // The tail was being timed when the pause came: time it again from now.
          pa_threaded_mainloop_get_api(ml)->time_free(s.tailTimer);
          s.tailTimer = nullptr;
          s.tailDone = false;
        }
      }
      wake(ml);
    }
    pa_threaded_mainloop_unlock(ml);
    return ok;
  }

  void stop() {
    if (!session_) return;
    const std::shared_ptr<Session> s = std::move(session_);
    pa_threaded_mainloop* ml = s->conn->ml;
    pa_threaded_mainloop_lock(ml);
    heardNow(*s);
    s->stop = true;
    closeStream(*s);
    const bool reading = s->reading;
    wake(ml);
    lastTrack_ = s->track;
    lastFrames_ = static_cast<int64_t>(s->first) * kFramesPerSector + s->heard;
    pa_threaded_mainloop_unlock(ml);
    // A thread inside a slow read of the drive is left to finish it alone (it holds what it
    // uses); the sound has already stopped.
    if (reading)
      s->thread.detach();
    else
      s->thread.join();
  }

  void position(int32_t& track, int64_t& frames) {
    track = lastTrack_;
    frames = lastFrames_;
    if (!session_) return;
    Session& s = *session_;
    pa_threaded_mainloop_lock(s.conn->ml);
    frames = static_cast<int64_t>(s.first) * kFramesPerSector + heardNow(s);
    pa_threaded_mainloop_unlock(s.conn->ml);
  }

 private:
  bool connect(std::string& why) {
    if (conn_ && conn_->ready()) return true;
    conn_.reset();
    const auto now = std::chrono::steady_clock::now();
    if (now < quietUntil_) {
      why = quietWhy_;
      return false;
    }
    auto c = std::make_shared<Connection>();
    bool timedOut = false;
    if (!c->open(why, timedOut)) {
      if (timedOut) {
        quietUntil_ = now + kQuietAfterTimeout;
        quietWhy_ = why;
      }
      return false;
    }
    conn_ = std::move(c);
    return true;
  }

  // Loop locked.
  bool openStream(Session& s, std::string& why) {
    pa_threaded_mainloop* ml = s.conn->ml;
    pa_context* ctx = s.conn->ctx;
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    s.stream = pa_stream_new_with_proplist(ctx, "CD audio", &kCdFormat, nullptr, props);
    pa_proplist_free(props);
    if (!s.stream) {
      why = pa_strerror(pa_context_errno(ctx));
      return false;
    }
    pa_stream_set_state_callback(s.stream, onStreamEvent, ml);
    pa_stream_set_write_callback(s.stream, onWritable, ml);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kServerLatency, &kCdFormat));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(s.stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
      why = pa_strerror(pa_context_errno(ctx));
      return false;
    }
    Deadline deadline(ml, ctx, kCommandTimeout);
    for (;;) {
      const pa_stream_state_t st = pa_stream_get_state(s.stream);
      if (st == PA_STREAM_READY) return true;
      if (!PA_STREAM_IS_GOOD(st)) {
        why = pa_strerror(pa_context_errno(ctx));
        return false;
      }
      if (deadline.passed()) {
        why = "the sound server did not open a stream in time";
        return false;
      }
      pa_threaded_mainloop_wait(ml);
    }
  }

  std::shared_ptr<Connection> conn_;
  std::shared_ptr<Session> session_;
  std::chrono::steady_clock::time_point quietUntil_{};
  std::string quietWhy_;
  int32_t lastTrack_ = 0;
  int64_t lastFrames_ = 0;
};

Player& player() {
  static Player p;
  return p;
}

}  // namespace

bool playerStart(CdIo_t* handle, int32_t track, int32_t first, int32_t last, std::string& why) {
  return player().start(Handle(handle), track, first, last, why);
}

bool playerPause(bool pause) { return player().pause(pause); }

void playerStop() { player().stop(); }

void playerPosition(int32_t& track, int64_t& frames) { player().position(track, frames); }

}  // namespace cdrip_internal
