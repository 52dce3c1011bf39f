#include "RunProof.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "app/globals.h"
#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "platform/events.h"
#include "platform/output_file.h"

namespace {

std::string outputFormatName(TRunOutput output) {
  switch (output) {
    case TRunOutput::Mp3: return "MP3";
    case TRunOutput::Raw: return "raw PCM";
    case TRunOutput::Flac: return "FLAC";
    case TRunOutput::Wav: break;
  }
  return "WAV";
}

}  // namespace

void TRunProof::Start(const TExtractionHost& host, const TCDRIP& ripper, TRunOutput output, int32_t offset,
                      bool offsetKnown, bool image) {
  std::vector<verify::TTocTrack> toc;
  for (int i = 0; i < ripper.Tracks().Count(); ++i) {
    const TTrack& t = ripper.Tracks().Objects(i);
    toc.push_back({t.TrackNum, t.StartSector, t.EndSector, ripper.IsAudioTrack(i)});
  }
  offset_ = offset;
  host_ = &host;
  disc_ = std::make_unique<verify::TDiscProof>(toc, offset);
  log_ = verify::TRipLog{};
  logName_.clear();
  logOn_ = MoreSettings.RipLog;
  discId_ = ripper.DiscID();
  album_.clear();
  for (int row = 0; row < host.RowCount() && album_.empty(); ++row)
    if (host.RowChecked(row)) album_ = host.RowTags(row).Album;
  if (!logOn_) return;
  disc_->StartLookUp(AccurateRipServer());

  log_.DriveName = ripper.DriveName();
  log_.ReadOffset = offset;
  log_.OffsetKnown = offsetKnown;
  log_.Image = image;
  log_.Toc = toc;
  log_.DiscId = discId_;
  log_.NamesSource = host.NamesSource();
  log_.OutputFormat = outputFormatName(output);
  const TFormatShape shape = FormatShape(ripper.OutputFormat());
  const std::string samples = std::to_string(shape.SampleRate) + " Hz, " + (shape.Channels == 1 ? "mono" : "stereo");
  if (output == TRunOutput::Mp3 && ripper.Coder()) {
    const TLameCoder& c = *ripper.Coder();
    log_.OutputSettings = std::to_string(c.Bitrate()) + " kbit/s" +
                          (c.EnableVBR() ? " VBR (to " + std::to_string(c.MaxBitrate()) + " kbit/s, quality " +
                                               std::to_string(c.VBRQuality()) + ")"
                                         : std::string(" CBR")) +
                          ", " + std::to_string(c.SampleRate()) + " Hz, from " + samples;
  } else if (output == TRunOutput::Flac) {
    log_.OutputSettings = "level " + std::to_string(MoreSettings.FlacLevel) + ", " + samples;
  } else {
    log_.OutputSettings = samples + ", 16 bit";
  }
}

bool TRunProof::Converted(const TCDRIP& ripper) { return ripper.OutputFormat() != STEREO44100; }

std::optional<verify::TTrackProof> TRunProof::TrackProof(const TCDRIP& ripper, int trackIndex) const {
  if (!disc_ || Converted(ripper) || (offset_ == 0 && !logOn_) || !ripper.IsAudioTrack(trackIndex)) return std::nullopt;
  return disc_->TrackProof(ripper.Tracks().Objects(trackIndex).TrackNum);
}

void TRunProof::AddRow(const TCDRIP& ripper, int trackIndex, const verify::TTrackProof* proof,
                       const std::string& fileName, const std::string& status, int readErrors,
                       const std::vector<std::string>& jitterLines) {
  if (!logOn_) return;
  WaitForLookUp();
  const verify::TTrackChecksums none(0, false, false);
  log_.AddTrack(disc_->Row(ripper.Tracks().Objects(trackIndex).TrackNum, proof ? proof->Sums() : none, fileName,
                           status, readErrors, jitterLines, Converted(ripper)));
}

void TRunProof::WaitForLookUp() {
  if (!disc_) return;
  while (!disc_->LookUpDone()) {
    if (host_ && host_->Cancelled()) disc_->CancelLookUp();
    platform::ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string TRunProof::Verification() const {
  return log_.Tracks().empty() ? std::string() : log_.Tracks().back().Verification.Text();
}

void TRunProof::Finish(const TExtractionHost& host, const std::string& outDir, bool failed, const std::string& error) {
  if (!disc_) return;
  if (host.Cancelled()) disc_->CancelLookUp();  // the user is not kept waiting for the answer
  if (!logOn_) return;
  if (log_.Tracks().empty() && !failed) return;  // nothing ripped, nothing to prove
  WaitForLookUp();
  log_.Lookup = disc_->Lookup();
  if (host.Cancelled()) log_.SetCancelled();
  if (failed) log_.AddError(error.empty() ? "The run ended with an error" : error);
  const std::string name = verify::RipLogFileName(outDir, album_, discId_);
  try {
    CreateRunFolders(RunOutputFolder(outDir), name);
    log_.Write(name);
  } catch (const platform::OutputFileError& e) {
    throw std::runtime_error("Cannot write the rip log " + e.name() + ": " + e.reason());
  } catch (const std::exception& e) {
    throw std::runtime_error("Cannot write the rip log " + name + ": " + e.what());
  }
  logName_ = name;
}
