// SPDX-License-Identifier: GPL-3.0-or-later
// The AccurateRip database: the disc's identifiers and where its answer lives, the answer's
// parser, and each track's verdict from its checksums and the answer. The look-up itself is
// one call over net::Get, kept apart from the pure parts the tests feed directly.
//
// Usage: ids = ArDiscIds(toc); answer = ArLookup(AccurateRipServer(), ids); for each track,
// ArVerdict(answer, trackNumber, sums).Text() goes into the log and onto the console.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace verify {

// One track of the disc's table of contents.
struct TTocTrack {
  int Number = 0;       // 1-based, as on the disc
  int StartSector = 0;  // LSN of index 1
  int EndSector = 0;    // LSN, inclusive
  bool Audio = true;
};

struct TArDiscIds {
  uint32_t Id1 = 0;     // sum of the audio tracks' starts and the lead-out
  uint32_t Id2 = 0;     // the same, each weighted by its track number
  uint32_t CddbId = 0;  // the freedb disc ID, data tracks included
  int AudioTracks = 0;
  bool operator==(const TArDiscIds&) const = default;
};

// The identifiers of a disc. Data tracks count for the lead-out (an Enhanced CD's lead-out is
// the end of its data track) and for the freedb ID, not in the two sums; the lead-out weighs
// as audio track count + 1, as the database has it.
TArDiscIds ArDiscIds(std::span<const TTocTrack> toc);
// "ID1-ID2-CDDBID" in lower-case hex, eight digits each.
std::string ArDiscIdText(const TArDiscIds& ids);
// "a/b/c/dBAR-NNN-ID1-ID2-CDDBID.bin": a, b, c the last three hex digits of ID1, last first.
std::string ArLookupPath(const TArDiscIds& ids);
// server + "/accuraterip/" + ArLookupPath; a "/" at the server's end is not doubled.
std::string ArLookupUrl(std::string_view server, const TArDiscIds& ids);

// One pressing's submissions as the database answers them.
struct TArEntry {
  uint8_t Confidence = 0;  // how many rips agreed on Crc (the database stops counting at 200)
  uint32_t Crc = 0;        // the track's v1 or v2 checksum
  uint32_t Frame450 = 0;   // the checksum of the track's sector 450, for offset finding
};
struct TArBlock {
  int TrackCount = 0;
  TArDiscIds Ids;  // AudioTracks = TrackCount
  std::vector<TArEntry> Tracks;
};
struct TArResponse {
  std::vector<TArBlock> Blocks;
  bool Truncated = false;  // the body ended inside a block; the whole blocks before it are kept
};
// Parses a body: blocks of (track count byte, ID1, ID2, CDDB ID as 32-bit little-endian words,
// then per track a confidence byte and two 32-bit words). Never reads past the body.
TArResponse ParseArResponse(std::string_view body);

enum class TArLookupStatus {
  Found,        // an answer with at least one whole block
  NotPresent,   // 404: nobody submitted this disc
  Unreachable,  // no network, no answer in time, a broken transfer
  BadAnswer,    // another HTTP status, or a body without one whole block
  NotAsked,     // nothing to ask (no audio track)
};
struct TArLookup {
  TArLookupStatus Status = TArLookupStatus::NotAsked;
  TArResponse Response;
  std::string Url;
  std::string Error;  // why Unreachable or BadAnswer, one short line
  // The disc-level line for the log and the console.
  std::string Text() const;
};
// Asks the server for the disc; never throws for network trouble.
TArLookup ArLookup(std::string_view server, const TArDiscIds& ids,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(15000),
                   const std::atomic<bool>* cancel = nullptr);
// The look-up's result for a body already fetched (the part of ArLookup the tests feed).
TArLookup ArLookupFromAnswer(std::string url, long httpStatus, std::string_view body, const TArDiscIds& ids);

enum class TArMatch { Accurate, NoMatch, NotPresent, NotVerified };
struct TArVerdict {
  TArMatch Match = TArMatch::NotVerified;
  int Confidence = 0;    // Accurate: the matching entry's; NoMatch: the submissions of all pressings
  int Version = 0;       // Accurate: 1 or 2
  std::string Reason;    // NotVerified: why
  // "Accurately ripped (confidence N) [v2]", "Not present in the database",
  // "Does not match (N submissions)", "Not verified (<reason>)".
  std::string Text() const;
};
// The verdict for one track (1-based among the answer's blocks, i.e. the disc's audio tracks in
// order) from its v1/v2 checksums; complete = the whole track was read.
TArVerdict ArVerdict(const TArLookup& lookup, int audioTrackOrdinal, uint32_t v1, uint32_t v2, bool complete);

// The line a rip gives when its read offset is 0 and nobody set the drive's: the database holds
// offset-corrected rips, so this one can only match where the drive's offset is 0 indeed.
std::string OffsetUnknownNote();

}  // namespace verify
