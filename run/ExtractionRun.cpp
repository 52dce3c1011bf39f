#include "ExtractionRun.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <utility>

#include "app/globals.h"
#include "cdrip/CDRIP.h"
#include "cdrip/CdRip_dll.h"
#include "flac/FlacCoder.h"
#include "lame/LameCoder.h"
#include "mp3info/MP3Info.h"
#include "platform/events.h"
#include "platform/output_file.h"
#include "platform/unique_fd.h"
#include "run/RunProof.h"
#include "tags/NamePattern.h"

int RowTrackIndexOf(const std::string& text) {
  // As StrToInt: the whole text a decimal integer, or the conversion error.
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
    throw EBadTrackIndex("'" + text + "' is not a valid integer value");
  return static_cast<int>(v);
}

bool DiscChangedSinceListing() {
  char text[256] = {};
  CR_GetRipperProblem(text, sizeof text);
  return std::string(text) == "The disc was changed: list it again";
}

bool OutputNameTaken(const std::string& name) {
  struct stat st {};
  return ::lstat(name.c_str(), &st) == 0;  // a link, even a dangling one, is in the way too
}

namespace {

constexpr const char* kWavExt = ".wav";


// Notes whether the CD component reported progress while it is alive, and hands every report
// on to the handler that was there. A track whose ripper opened reports at least once; one the
// drive refused reports nothing and writes no file.
class ProgressWitness {
 public:
  explicit ProgressWitness(TCDRIP& ripper) : ripper_(ripper), previous_(ripper.OnProgress) {
    ripper_.OnProgress = [this](TCDRIP& sender, uint16_t percent) {
      reported_ = true;
      if (previous_) previous_(sender, percent);
    };
  }
  ~ProgressWitness() { ripper_.OnProgress = std::move(previous_); }
  ProgressWitness(const ProgressWitness&) = delete;
  ProgressWitness& operator=(const ProgressWitness&) = delete;
  bool Reported() const { return reported_; }

 private:
  TCDRIP& ripper_;
  TProgressEvent previous_;
  bool reported_ = false;
};

// The tags the ripper writes into one track's file, for as long as it lives: an MP3 file's
// ID3v2 head, a FLAC file's comments and level. Nothing of them stays for a later extraction.
class TrackTagsInRipper {
 public:
  TrackTagsInRipper(TCDRIP& ripper, TRunOutput output, const TTrackTags& tags) : ripper_(ripper) {
    if (output == TRunOutput::Mp3 && MoreSettings.FullTags) ripper_.FileHead = RenderId3v2(tags);
    if (output == TRunOutput::Flac) {
      ripper_.FlacCoder().SetLevel(MoreSettings.FlacLevel);
      ripper_.FlacCoder().Comments = VorbisComments(tags, MoreSettings.FullTags);
    }
  }
  ~TrackTagsInRipper() {
    ripper_.FileHead.clear();
    ripper_.FlacCoder().Comments.clear();
  }
  TrackTagsInRipper(const TrackTagsInRipper&) = delete;
  TrackTagsInRipper& operator=(const TrackTagsInRipper&) = delete;

 private:
  TCDRIP& ripper_;
};

}  // namespace

TTrackTags RunTrackTags(const TExtractionHost& host, const TCDRIP& ripper, int row, int trackIndex) {
  TTrackTags tags = host.RowTags(row);
  tags.Title = host.RowCaption(row);
  if (tags.TrackNumber <= 0) tags.TrackNumber = ripper.Tracks().Objects(trackIndex).TrackNum;
  if (tags.TrackTotal <= 0) {
    int audio = 0;
    for (int i = 0; i < ripper.Tracks().Count(); ++i)
      if (ripper.IsAudioTrack(i)) ++audio;
    tags.TrackTotal = audio;
  }
  return tags;
}

std::string RunOutputExtension(TRunOutput output) {
  switch (output) {
    case TRunOutput::Mp3: return ".mp3";
    case TRunOutput::Raw: return ".raw";
    case TRunOutput::Flac: return ".flac";
    case TRunOutput::Wav: break;
  }
  return kWavExt;
}

std::string RunOutputFolder(const std::string& outDir) {
  const std::string name = GetOutputFileName(outDir, "");
  return name.substr(0, name.size() - std::strlen(kWavExt));
}

std::string RunOutputFileName(const std::string& outDir, const std::string& caption, const std::string& entryText) {
  TTrackTags tags;
  tags.Title = caption;
  return PatternOutputFileName(outDir, kDefaultNamePattern, tags, entryText);
}

std::string RunOutputFileName(const std::string& outDir, const TTrackTags& tags, const std::string& entryText) {
  return PatternOutputFileName(outDir, MoreSettings.NamePattern, tags, entryText);
}

std::string FolderOf(const std::string& name) {
  const auto slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

void CreateRunFolders(const std::string& folder, const std::string& name) {
  // The output folder is the user's choice, a link to elsewhere included.
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (name.compare(0, folder.size(), folder) != 0) return;
  const std::string rel = name.substr(folder.size());
  if (rel.find('/') == std::string::npos) return;

  std::optional<platform::UniqueFd> dir;
  dir.emplace(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir->valid()) return;  // the file's creation reports it
  std::string walked = folder;
  size_t pos = 0;
  for (size_t slash; (slash = rel.find('/', pos)) != std::string::npos; pos = slash + 1) {
    const std::string part = rel.substr(pos, slash - pos);
    walked += part + "/";
    if (::mkdirat(dir->get(), part.c_str(), 0777) != 0 && errno != EEXIST) return;
    const int next = ::openat(dir->get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      struct stat st{};
      if (::fstatat(dir->get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        throw EFCreateError(name, "a symbolic link stands in place of the folder " + walked);
      return;  // not a folder: the file's creation fails with the reason
    }
    dir.emplace(next);
  }
}

TExtractionRun::TExtractionRun(TExtractionHost& host, TCDRIP& ripper, TMP3Info& tagger, TMP3Settings& settings)
    : proof_(std::make_unique<TRunProof>()), host_(host), ripper_(ripper), tagger_(tagger), settings_(settings) {}

TExtractionRun::~TExtractionRun() = default;

const verify::TRipLog& TExtractionRun::RipLog() const { return proof_->Log(); }
const std::string& TExtractionRun::RipLogName() const { return proof_->LogName(); }

int TExtractionRun::Perform(TRunOutput output) {
  // 1-2. The question is asked again in every run; Encode follows the output.
  settings_.AskOverwrite = true;
  ripper_.Encode = output == TRunOutput::Mp3 || output == TRunOutput::Flac;
  ripper_.EncodeFlac = output == TRunOutput::Flac;
  int total = 0;
  for (int row = 0; row < host_.RowCount(); ++row)
    if (host_.RowChecked(row)) ++total;
  lastAnswer_ = oaNone;
  lastName_.clear();
  stop_ = false;

  proof_->Start(host_, ripper_, output, offset_, offsetKnown_, image_);

  // 3. The rows, in list order.
  std::exception_ptr failure;
  std::string failureText;
  try {
    int ordinal = 0;
    for (int row = 0; row < host_.RowCount() && !stop_; ++row) {
      if (host_.Cancelled()) break;
      if (!host_.RowChecked(row)) continue;
      extractRow(row, ++ordinal, total, output);
    }
  } catch (const std::exception& e) {
    failure = std::current_exception();
    failureText = e.what();
  } catch (...) {
    failure = std::current_exception();
  }

  // The log before the end steps, so that the host has the summary when the run finishes. A
  // log that cannot be written ends the run as an error, after the end steps, unless an
  // earlier error already does.
  try {
    proof_->Finish(host_, settings_.OutDir, failure != nullptr, failureText);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }

  // 4. End of the run, however it ended.
  host_.ResetProgress();
  // A folder that an error kept from being made is not opened: there is nothing to show.
  std::error_code ec;
  if (settings_.OpenWhenDone && !host_.Cancelled() && lastAnswer_ != oaNo && !lastName_.empty() &&
      std::filesystem::is_directory(FolderOf(lastName_), ec))
    host_.OpenFolder(FolderOf(lastName_));
  const int result = host_.Cancelled() ? 2 : 1;
  if (!proof_->LogName().empty()) host_.RunSummary(proof_->Log().SummaryLine());
  host_.Finish(result);
  if (failure) std::rethrow_exception(failure);
  return result;
}

void TExtractionRun::extractRow(int row, int ordinal, int total, TRunOutput output) {
  const std::string caption = host_.RowCaption(row);
  host_.ShowStatus(row, "Extract " + caption + " (" + std::to_string(ordinal) + " of " + std::to_string(total) + ")...");

  // The track first: a blank title falls back to the track list's own text for it.
  const int trackIndex = RowTrackIndexOf(host_.RowTrackIndex(row));
  const std::string& entryText = ripper_.Tracks().Strings(trackIndex);

  const TTrackTags tags = RunTrackTags(host_, ripper_, row, trackIndex);

  std::string name = RunOutputFileName(settings_.OutDir, tags, entryText);
  CreateRunFolders(RunOutputFolder(settings_.OutDir), name);
  if (output != TRunOutput::Wav) name = ChangeFileExt(name, RunOutputExtension(output));
  lastName_ = name;
  host_.ShowPath("To " + name);

  if (settings_.AskOverwrite && OutputNameTaken(name)) {
    lastAnswer_ = host_.AskOverwrite(name);
    if (lastAnswer_ == oaNo) {
      stop_ = true;
      return;
    }
    if (lastAnswer_ == oaYesToAll) settings_.AskOverwrite = false;
  }

  std::optional<verify::TTrackProof> proof = proof_->TrackProof(ripper_, trackIndex);
  const size_t jitterBefore = ripper_.JitterLog().size();
  // A row for the log, whatever ended the track.
  auto logRow = [&](const std::string& status) {
    if (!proof_->LogOn()) return;
    const auto& jitter = ripper_.JitterLog();
    const std::vector<std::string> lines(jitter.begin() + static_cast<long>(std::min(jitterBefore, jitter.size())),
                                         jitter.end());
    proof_->AddRow(ripper_, trackIndex, proof ? &*proof : nullptr, name, status, ripper_.JitterErrorCount(), lines);
  };
  {
    ProgressWitness witness(ripper_);
    TrackTagsInRipper inFile(ripper_, output, tags);
    struct ProofInRipper {
      TCDRIP& ripper;
      ~ProofInRipper() { ripper.TrackProof = nullptr; }
    } proofInRipper{ripper_};
    ripper_.TrackProof = proof ? &*proof : nullptr;
    try {
      ripper_.RipTrack(trackIndex + 1, name);
      if (!witness.Reported())
        throw ETrackNotRead("The drive refused to read track " + std::to_string(trackIndex + 1));
    } catch (const ETrackNotRead&) {
      throw;  // nothing was read: no row
    } catch (const std::exception& e) {
      logRow(e.what());
      throw;
    }
  }

  // The cancelled partial file is tagged too.
  if (output == TRunOutput::Mp3) {
    tagger_.SetFilename(name);
    tagger_.SetTitle(caption);
    tagger_.Save();
    if (!tagger_.Saved()) throw ETagNotWritten("Cannot write the ID3 tag into " + name);
  }
  const std::string status = host_.Cancelled() ? "Cancelled" : "OK";
  host_.SetRowStatus(row, status, name);
  logRow(status);
  if (proof_->LogOn()) host_.TrackVerified(row, proof_->Verification());
}
