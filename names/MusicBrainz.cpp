#include "names/MusicBrainz.h"

#include <nlohmann/json.hpp>

#include <cctype>

#include "net/http.h"

namespace names {
namespace {

using nlohmann::json;

std::string str(const json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

const json* arr(const json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_array() ? &*it : nullptr;
}

// The credit as printed on the release: each credited name, then its join phrase.
std::string joinCredit(const json* credit, std::vector<std::string>* ids) {
  std::string out;
  if (!credit) return out;
  for (const json& c : *credit) {
    if (!c.is_object()) continue;
    std::string name = str(c, "name");
    const auto artist = c.find("artist");
    if (artist != c.end() && artist->is_object()) {
      if (name.empty()) name = str(*artist, "name");
      if (ids) ids->push_back(str(*artist, "id"));
    }
    out += name + str(c, "joinphrase");
  }
  return out;
}

std::string yearOf(const std::string& date) {
  if (date.size() < 4) return {};
  for (int i = 0; i < 4; ++i)
    if (!std::isdigit(static_cast<unsigned char>(date[static_cast<size_t>(i)]))) return {};
  return date.substr(0, 4);
}

bool holdsDisc(const json& medium, const std::string& id) {
  if (const json* discs = arr(medium, "discs"))
    for (const json& d : *discs)
      if (d.is_object() && str(d, "id") == id) return true;
  return false;
}

// The medium of the release for this disc, or null.
const json* mediumFor(const json& release, const TMbDisc& disc, size_t audioRows, bool& exact) {
  const json* media = arr(release, "media");
  if (!media) return nullptr;
  for (const json& m : *media)
    if (m.is_object() && holdsDisc(m, disc.id)) {
      exact = true;
      return &m;
    }
  exact = false;
  for (const json& m : *media) {
    if (!m.is_object()) continue;
    const json* tracks = arr(m, "tracks");
    if (tracks && tracks->size() == audioRows) return &m;
  }
  return nullptr;
}

}  // namespace

std::string LookupUrl(const std::string& server, const TMbDisc& disc) {
  std::string base = server;
  while (!base.empty() && base.back() == '/') base.pop_back();
  // The toc value is digits joined by "+", which a query keeps as it is.
  return base + "/ws/2/discid/" + net::Escape(disc.id) + "?toc=" + disc.toc + "&inc=recordings+artist-credits&fmt=json";
}

bool ParseDiscIdAnswer(std::string_view text, const TDiscLayout& layout, const TMbDisc& disc,
                       std::vector<TRelease>& releases, std::string& why) {
  releases.clear();
  json root = json::parse(text, nullptr, false);
  if (root.is_discarded() || !root.is_object()) {
    why = "the answer is not JSON";
    return false;
  }
  const json* list = arr(root, "releases");
  if (!list) {
    why = "the answer holds no release list";
    return false;
  }
  const std::vector<size_t>& rows = disc.rows;
  for (const json& rel : *list) {
    if (!rel.is_object()) continue;
    bool exact = false;
    const json* medium = mediumFor(rel, disc, rows.size(), exact);
    if (!medium) continue;  // no medium of this release fits the disc
    TRelease r;
    r.id = str(rel, "id");
    r.title = str(rel, "title");
    r.year = yearOf(str(rel, "date"));
    r.country = str(rel, "country");
    r.barcode = str(rel, "barcode");
    r.format = str(*medium, "format");
    r.exactMedium = exact;
    if (const auto p = medium->find("position"); p != medium->end() && p->is_number_integer()) r.mediumPosition = p->get<int>();
    TAlbumNames& n = r.names;
    r.artist = joinCredit(arr(rel, "artist-credit"), &n.AlbumArtistIds);
    n.AlbumArtist = r.artist;
    n.AlbumTitle = r.title;
    n.Year = r.year;
    n.DiscId = disc.id;
    n.ReleaseId = r.id;
    if (const auto g = rel.find("release-group"); g != rel.end() && g->is_object()) n.ReleaseGroupId = str(*g, "id");
    const size_t count = layout.tracks.size();
    n.TrackTitles.assign(count, {});
    n.TrackArtists.assign(count, {});
    n.RecordingIds.assign(count, {});
    n.TrackIds.assign(count, {});
    n.TrackArtistIds.assign(count, {});
    const json* tracks = arr(*medium, "tracks");
    r.trackCount = tracks ? static_cast<int>(tracks->size()) : 0;
    for (size_t i = 0; tracks && i < tracks->size() && i < rows.size(); ++i) {
      const json& t = (*tracks)[i];
      if (!t.is_object()) continue;
      const size_t row = rows[i];
      const auto rec = t.find("recording");
      const bool hasRec = rec != t.end() && rec->is_object();
      n.TrackTitles[row] = str(t, "title");
      if (n.TrackTitles[row].empty() && hasRec) n.TrackTitles[row] = str(*rec, "title");
      n.TrackIds[row] = str(t, "id");
      if (hasRec) n.RecordingIds[row] = str(*rec, "id");
      const json* credit = arr(t, "artist-credit");
      if (!credit && hasRec) credit = arr(*rec, "artist-credit");
      n.TrackArtists[row] = credit ? joinCredit(credit, &n.TrackArtistIds[row]) : n.AlbumArtist;
    }
    releases.push_back(std::move(r));
  }
  return true;
}

TLookupResult LookUp(const TDiscLayout& layout, const TLookupOptions& options) {
  TLookupResult out;
  out.discKey = layout.iniKey;
  out.disc = DiscIdOf(layout);
  if (!out.disc.ok) {
    out.status = TLookupStatus::NoDiscId;
    out.message = "No MusicBrainz disc ID for this disc (" + out.disc.error + ")";
    return out;
  }
  net::Request req;
  req.url = LookupUrl(options.server, out.disc);
  req.userAgent = net::UserAgent();
  req.accept = "application/json";
  req.timeout = options.timeout;
  req.retries503 = options.retries503;
  req.retryPause = options.retryPause;
  req.cancel = options.cancel;
  const net::Response resp = net::Get(req);
  const std::string notFound = "This disc is not in MusicBrainz";
  switch (resp.outcome) {
    case net::Outcome::Cancelled:
      out.status = TLookupStatus::Cancelled;
      out.message = "The look-up was cancelled";
      return out;
    case net::Outcome::Unreachable:
      out.status = TLookupStatus::Unreachable;
      out.message = "MusicBrainz could not be reached (" + resp.error + ")";
      return out;
    case net::Outcome::TooLarge:
      out.status = TLookupStatus::BadAnswer;
      out.message = "MusicBrainz sent an answer that cannot be read (" + resp.error + ")";
      return out;
    case net::Outcome::Answered:
      break;
  }
  if (resp.status == 404) {
    out.status = TLookupStatus::NotFound;
    out.message = notFound + "; add it at " + out.disc.submissionUrl;
    return out;
  }
  if (resp.status == 503) {
    out.status = TLookupStatus::Unreachable;
    out.message = "MusicBrainz could not be reached (the service is busy: HTTP 503 after " +
                  std::to_string(resp.attempts) + " attempts)";
    return out;
  }
  if (resp.status != 200) {
    out.status = TLookupStatus::Unreachable;
    out.message = "MusicBrainz could not be reached (HTTP " + std::to_string(resp.status) + ")";
    return out;
  }
  std::string why;
  if (!ParseDiscIdAnswer(resp.body, layout, out.disc, out.releases, why)) {
    out.status = TLookupStatus::BadAnswer;
    out.message = "MusicBrainz sent an answer that cannot be read (" + why + ")";
    return out;
  }
  if (out.releases.empty()) {
    out.status = TLookupStatus::NotFound;
    out.message = notFound + "; add it at " + out.disc.submissionUrl;
    return out;
  }
  out.status = TLookupStatus::Found;
  out.message = out.releases.size() == 1 ? "Names from MusicBrainz"
                                         : "Names from MusicBrainz (" + std::to_string(out.releases.size()) + " releases)";
  return out;
}

int ChooseRelease(const std::vector<TRelease>& releases, const std::string& choice) {
  if (releases.empty()) return -1;
  if (choice.empty()) return 0;
  bool digits = choice.size() <= 3;
  for (char c : choice) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (digits) {
    const int n = std::stoi(choice);
    return n >= 1 && n <= static_cast<int>(releases.size()) ? n - 1 : -1;
  }
  for (size_t i = 0; i < releases.size(); ++i)
    if (releases[i].id == choice) return static_cast<int>(i);
  return -1;
}

}  // namespace names
