// SPDX-License-Identifier: GPL-3.0-or-later
#include "RipProblems.h"

#include <cstdlib>

#include "run/ParallelRip.h"
#include "cdrip/CDRIP.h"

namespace {

std::string sectors(int first, int last) { return "sectors " + std::to_string(first) + " to " + std::to_string(last); }

}  // namespace

std::string NoDiscText(const TCDRIP& ripper) {
  std::string text = "no readable disc in drive " + std::to_string(ripper.CDRomNum()) + " (" + ripper.DriveName() + ")";
  const std::string problem = ripper.DiscProblem();
  if (!problem.empty()) text += ": " + problem;
  return text;
}

std::string WhyTrackNotRead(TCDRIP& ripper, int trackNum) {
  const std::string n = std::to_string(trackNum);
  const TTrack t = ripper.Tracks().Objects(trackNum - 1);
  if (t.EndSector < t.StartSector) return "track " + n + " has no sectors to read (a zero-length track)";
  const bool audio = ripper.IsAudioTrack(trackNum - 1);
  // The library's own reason comes first: it knows what no look at the disc shows.
  const std::string problem = ripper.RipperProblem();
  // The disc may have gone since it was listed: a table read afresh tells.
  ripper.SelectDrive(ripper.CDRomNum());
  if (!problem.empty()) return "track " + n + " cannot be read: " + problem;
  if (ripper.Tracks().Count() == 0) return "track " + n + " cannot be read: " + NoDiscText(ripper);
  if (!audio) return "track " + n + " is a data track";
  return "the drive refused to read track " + n + " (" + sectors(t.StartSector, t.EndSector) + ")";
}

std::string ReadErrorsText(const TCDRIP& ripper, int trackNum, const TReadReport& report) {
  if (report.JitterErrorCount <= 0) return {};
  const TTrack& t = ripper.Tracks().Objects(trackNum - 1);
  const int length = t.EndSector - t.StartSector + 1;
  // The log's lines are "sector offset", one per damaged chunk, the chunk's last damaged sector.
  const int last = report.JitterLog.empty() ? -1 : std::atoi(report.JitterLog.back().c_str());
  const std::string count = std::to_string(report.JitterErrorCount);
  if (!ripper.ImageDataFile().empty()) {
    if (report.JitterErrorCount >= length)
      return "the image lacks all of its " + sectors(t.StartSector, t.EndSector) + ", left silent";
    return "the image lacks " + count + " of its sectors" +
           (last >= 0 ? " (the last at sector " + std::to_string(last) + ")" : std::string()) + ", left silent";
  }
  // The sectors the library named for this track's extraction: the report's when the reader
  // kept them (a parallel run's reader has moved on), else the ripper's; another track's are
  // not this one's, and the log's last one stands in.
  const bool reported = report.DamagedFirst >= 0;
  const int first = reported ? report.DamagedFirst : ripper.DamagedFirst();
  const int final = reported ? report.DamagedLast : ripper.DamagedLast();
  const bool named = first >= t.StartSector && first <= final && final <= t.EndSector;
  std::string where;
  if (named && first == final)
    where = " (at sector " + std::to_string(first) + ")";
  else if (named)
    where = " (the first at sector " + std::to_string(first) + ", the last at sector " + std::to_string(final) + ")";
  else if (last >= 0)
    where = " (the last at sector " + std::to_string(last) + ")";
  return count + (report.JitterErrorCount == 1 ? " read error" : " read errors") + where;
}
