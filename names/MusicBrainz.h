// The MusicBrainz look-up of a disc: the request's address, the pure reading of the answer,
// and the one call that does both over net::Get.
//
// Usage (from any thread; a window runs it on a worker and applies the result only when
// `discKey` is still the listed disc):
//   TLookupResult r = LookUp(disc, {MusicBrainzServer()});
//   if (r.status == TLookupStatus::Found) names = r.releases[ChooseRelease(r, choice)].names;
//   else show(r.message);
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "names/Album.h"
#include "names/DiscId.h"

namespace names {

// One release of the answer, with what a chooser shows and the names for the disc's rows.
struct TRelease {
  std::string id, title, artist, year, country, format, barcode;
  int trackCount = 0;  // of the medium taken
  int mediumPosition = 0;
  bool exactMedium = false;  // the medium's discs hold this disc ID (a fuzzy match does not)
  TAlbumNames names;
};

enum class TLookupStatus { Found, NotFound, Unreachable, BadAnswer, Cancelled, NoDiscId };

struct TLookupResult {
  TLookupStatus status = TLookupStatus::Unreachable;
  std::string message;  // one line for the user
  std::vector<TRelease> releases;
  TMbDisc disc;
  std::string discKey;  // the layout's iniKey, echoed
};

struct TLookupOptions {
  std::string server = "https://musicbrainz.org";  // no "/" at the end
  std::chrono::milliseconds timeout{10000};
  int retries503 = 3;
  std::chrono::milliseconds retryPause{1500};
  const std::atomic<bool>* cancel = nullptr;
};

// <server>/ws/2/discid/<id>?toc=<toc>&inc=recordings+artist-credits&fmt=json
std::string LookupUrl(const std::string& server, const TMbDisc& disc);

// Reads a discid answer (JSON) into releases, each medium matched to the disc: the one whose
// discs hold the ID, else (a fuzzy TOC match) the first with as many tracks as the disc has.
// False with `why` set when the text is not such an answer.
bool ParseDiscIdAnswer(std::string_view json, const TDiscLayout& layout, const TMbDisc& disc,
                       std::vector<TRelease>& releases, std::string& why);

// Computes the disc ID, sends the one request and reads the answer.
TLookupResult LookUp(const TDiscLayout& disc, const TLookupOptions& options);

// The release --release picks: "" the first, "N" the N-th (from 1), else the one with that
// MBID; -1 when none fits.
int ChooseRelease(const std::vector<TRelease>& releases, const std::string& choice);

}  // namespace names
