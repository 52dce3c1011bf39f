// SPDX-License-Identifier: GPL-3.0-or-later
// Answers of the stand-in MusicBrainz for a disc a test made: the stored demo answer (the
// documented shape) with one release per entry, each with a single medium holding the disc.
//
//   WriteMbAnswer(tmp / "answers", "one", disc, {{"Morning Tones", "Dawn Chorus", "2019", {"Dawn"}}});
//   then the stand-in serves <root> and the program asks <server>/one.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "names/DiscId.h"
#include "tests/test_support.h"

#ifndef ANSWERS_DIR
#error "ANSWERS_DIR must name tests/names/answers"
#endif

struct MbRelease {
  std::string title;
  std::string artist;  // empty: the demo release's credit stays
  std::string date;    // empty: the demo release's date stays
  std::vector<std::string> tracks;
};

inline std::string MbAnswerFor(const names::TMbDisc& disc, const std::vector<MbRelease>& releases) {
  using nlohmann::json;
  std::filesystem::path demo;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(ANSWERS_DIR) / "demo/ws/2/discid"))
    demo = e.path();
  json root = json::parse(testing_support::readFile(demo));
  const json releaseShape = root["releases"][0];
  root["id"] = disc.id;
  root["releases"] = json::array();
  int n = 0;
  for (const MbRelease& r : releases) {
    json rel = releaseShape;
    rel["id"] = "0000000" + std::to_string(++n) + "-0000-4000-8000-000000000000";
    rel["title"] = r.title;
    if (!r.date.empty()) {
      rel["date"] = r.date;
      rel["release-events"][0]["date"] = r.date;
    }
    if (!r.artist.empty()) {
      json credit = rel["artist-credit"][0];
      credit["name"] = r.artist;
      credit["joinphrase"] = "";
      credit["artist"]["name"] = r.artist;
      credit["artist"]["sort-name"] = r.artist;
      rel["artist-credit"] = json::array({credit});
    }
    json medium = rel["media"][0];
    medium["discs"][0]["id"] = disc.id;
    const json trackShape = medium["tracks"][0];
    medium["tracks"] = json::array();
    for (size_t i = 0; i < r.tracks.size(); ++i) {
      json t = trackShape;
      t["title"] = r.tracks[i];
      t["recording"]["title"] = r.tracks[i];
      t["position"] = i + 1;
      t["number"] = std::to_string(i + 1);
      medium["tracks"].push_back(t);
    }
    medium["track-count"] = r.tracks.size();
    rel["media"] = json::array({medium});
    root["releases"].push_back(rel);
  }
  return root.dump(1);
}

// The case folder `name` under `root`, answering for `disc`.
inline void WriteMbAnswer(const std::filesystem::path& root, const std::string& name, const names::TMbDisc& disc,
                          const std::vector<MbRelease>& releases) {
  const std::filesystem::path folder = root / name / "ws/2/discid";
  std::filesystem::create_directories(folder);
  testing_support::writeFile(folder / disc.id, MbAnswerFor(disc, releases));
}
