// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/AccurateRip.h"

#include <cstdio>

#include "net/http.h"

namespace verify {

namespace {

std::string hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

uint32_t le32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The freedb ID: the digit sums of the tracks' start seconds, the disc's length in seconds and
// the track count, data tracks included, with the 150 sectors of lead-in added to every
// position. libdiscid computes the same but refuses discs longer than a CD may be, which the
// database still holds.
uint32_t freedbId(std::span<const TTocTrack> toc) {
  auto digitSum = [](int64_t n) {
    uint32_t sum = 0;
    for (; n > 0; n /= 10) sum += static_cast<uint32_t>(n % 10);
    return sum;
  };
  uint32_t n = 0;
  for (const TTocTrack& t : toc) n += digitSum((int64_t{t.StartSector} + 150) / 75);
  const int64_t seconds = (int64_t{toc.back().EndSector} + 1 + 150) / 75 - (int64_t{toc.front().StartSector} + 150) / 75;
  return (n % 0xff) << 24 | static_cast<uint32_t>(seconds & 0xffff) << 8 | static_cast<uint32_t>(toc.size() & 0xff);
}

}  // namespace

TArDiscIds ArDiscIds(std::span<const TTocTrack> toc) {
  TArDiscIds ids;
  if (toc.empty()) return ids;
  for (const TTocTrack& t : toc) {
    if (!t.Audio) continue;
    const uint32_t start = static_cast<uint32_t>(t.StartSector);
    ids.Id1 += start;
    ids.Id2 += (start == 0 ? 1u : start) * static_cast<uint32_t>(t.Number);
    ++ids.AudioTracks;
  }
  // The lead-out is one past the disc's last sector, a data track's included.
  const uint32_t leadOut = static_cast<uint32_t>(toc.back().EndSector + 1);
  ids.Id1 += leadOut;
  ids.Id2 += leadOut * static_cast<uint32_t>(ids.AudioTracks + 1);
  ids.CddbId = freedbId(toc);
  return ids;
}

std::string ArDiscIdText(const TArDiscIds& ids) { return hex8(ids.Id1) + "-" + hex8(ids.Id2) + "-" + hex8(ids.CddbId); }

std::string ArLookupPath(const TArDiscIds& ids) {
  const std::string id1 = hex8(ids.Id1);
  char count[16];
  std::snprintf(count, sizeof count, "%03d", ids.AudioTracks);
  return std::string{id1[7], '/', id1[6], '/', id1[5], '/'} + "dBAR-" + count + "-" + ArDiscIdText(ids) + ".bin";
}

std::string ArLookupUrl(std::string_view server, const TArDiscIds& ids) {
  while (!server.empty() && server.back() == '/') server.remove_suffix(1);
  return std::string(server) + "/accuraterip/" + ArLookupPath(ids);
}

TArResponse ParseArResponse(std::string_view body) {
  TArResponse response;
  const auto* p = reinterpret_cast<const unsigned char*>(body.data());
  size_t left = body.size();
  constexpr size_t kHeader = 13, kEntry = 9;
  while (left > 0) {
    const size_t count = p[0];
    if (left < kHeader + count * kEntry) {
      response.Truncated = true;
      break;
    }
    TArBlock block;
    block.TrackCount = static_cast<int>(count);
    block.Ids = {le32(p + 1), le32(p + 5), le32(p + 9), static_cast<int>(count)};
    const unsigned char* e = p + kHeader;
    for (size_t i = 0; i < count; ++i, e += kEntry) block.Tracks.push_back({e[0], le32(e + 1), le32(e + 5)});
    response.Blocks.push_back(std::move(block));
    p += kHeader + count * kEntry;
    left -= kHeader + count * kEntry;
  }
  return response;
}

TArLookup ArLookupFromAnswer(std::string url, long httpStatus, std::string_view body, const TArDiscIds& ids) {
  TArLookup lookup;
  lookup.Url = std::move(url);
  if (httpStatus == 404) {
    lookup.Status = TArLookupStatus::NotPresent;
    return lookup;
  }
  if (httpStatus < 200 || httpStatus >= 300) {
    lookup.Status = TArLookupStatus::BadAnswer;
    lookup.Error = "the server answered HTTP " + std::to_string(httpStatus);
    return lookup;
  }
  lookup.Response = ParseArResponse(body);
  // A block for another disc (the same file name, other identifiers) says nothing of this one.
  std::erase_if(lookup.Response.Blocks, [&](const TArBlock& b) {
    return b.Ids.Id1 != ids.Id1 || b.Ids.Id2 != ids.Id2 || b.Ids.CddbId != ids.CddbId || b.TrackCount != ids.AudioTracks;
  });
  if (lookup.Response.Blocks.empty()) {
    lookup.Status = TArLookupStatus::BadAnswer;
    lookup.Error = lookup.Response.Truncated ? "the answer was cut short" : "the answer holds nothing for this disc";
    return lookup;
  }
  lookup.Status = TArLookupStatus::Found;
  return lookup;
}

TArLookup ArLookup(std::string_view server, const TArDiscIds& ids, std::chrono::milliseconds timeout,
                   const std::atomic<bool>* cancel) {
  TArLookup lookup;
  if (ids.AudioTracks == 0) return lookup;
  net::Request request;
  request.url = ArLookupUrl(server, ids);
  request.userAgent = net::UserAgent();
  request.timeout = timeout;
  request.maxBody = 1 << 20;  // a block is 13 + 9 * 99 bytes; a thousand pressings fit
  request.cancel = cancel;
  const net::Response response = net::Get(request);
  if (response.outcome != net::Outcome::Answered) {
    lookup.Url = request.url;
    lookup.Status = TArLookupStatus::Unreachable;
    lookup.Error = response.outcome == net::Outcome::TooLarge   ? "the answer was too large"
                   : response.outcome == net::Outcome::Cancelled ? "cancelled"
                                                                 : response.error;
    return lookup;
  }
  return ArLookupFromAnswer(request.url, response.status, response.body, ids);
}

std::string TArLookup::Text() const {
  switch (Status) {
    case TArLookupStatus::Found: {
      std::string text = "AccurateRip: " + std::to_string(Response.Blocks.size()) +
                         (Response.Blocks.size() == 1 ? " pressing" : " pressings") + " in the database";
      if (Response.Truncated) text += " (the answer was cut short; its last pressing is left out)";
      return text;
    }
    case TArLookupStatus::NotPresent: return "AccurateRip: the disc is not in the database";
    case TArLookupStatus::Unreachable: return "AccurateRip: the database could not be reached (" + Error + ")";
    case TArLookupStatus::BadAnswer: return "AccurateRip: the database's answer could not be read (" + Error + ")";
    case TArLookupStatus::NotAsked: break;
  }
  return "AccurateRip: not asked";
}

TArVerdict ArVerdict(const TArLookup& lookup, int audioTrackOrdinal, uint32_t v1, uint32_t v2, bool complete) {
  TArVerdict verdict;
  if (!complete) {
    verdict.Reason = "the track was not read to its end";
    return verdict;
  }
  switch (lookup.Status) {
    case TArLookupStatus::Found: break;
    case TArLookupStatus::NotPresent: verdict.Match = TArMatch::NotPresent; return verdict;
    case TArLookupStatus::Unreachable: verdict.Reason = "the database could not be reached"; return verdict;
    case TArLookupStatus::BadAnswer: verdict.Reason = "the database's answer could not be read"; return verdict;
    case TArLookupStatus::NotAsked: verdict.Reason = "the database was not asked"; return verdict;
  }
  int submissions = 0;
  for (const TArBlock& block : lookup.Response.Blocks) {
    if (audioTrackOrdinal < 1 || audioTrackOrdinal > static_cast<int>(block.Tracks.size())) continue;
    const TArEntry& entry = block.Tracks[static_cast<size_t>(audioTrackOrdinal - 1)];
    submissions += entry.Confidence;
    if (entry.Confidence == 0) continue;  // a pressing nobody submitted this track of
    // The best match wins; v2 first at equal confidence, since it is the stronger sum.
    for (const auto& [crc, version] : {std::pair{v2, 2}, std::pair{v1, 1}}) {
      if (entry.Crc == crc && (verdict.Match != TArMatch::Accurate || entry.Confidence > verdict.Confidence)) {
        verdict.Match = TArMatch::Accurate;
        verdict.Confidence = entry.Confidence;
        verdict.Version = version;
      }
    }
  }
  if (verdict.Match == TArMatch::Accurate) return verdict;
  verdict.Match = submissions > 0 ? TArMatch::NoMatch : TArMatch::NotPresent;
  verdict.Confidence = submissions;
  return verdict;
}

std::string TArVerdict::Text() const {
  switch (Match) {
    case TArMatch::Accurate:
      return "Accurately ripped (confidence " + std::to_string(Confidence) + ") [v" + std::to_string(Version) + "]";
    case TArMatch::NoMatch: return "Does not match (" + std::to_string(Confidence) + " submissions)";
    case TArMatch::NotPresent: return "Not present in the database";
    case TArMatch::NotVerified: break;
  }
  return "Not verified (" + Reason + ")";
}

std::string OffsetUnknownNote() {
  return "The drive's read offset is not set: matching needs the offset ([Drive] ReadOffset, or --offset N)";
}

}  // namespace verify
