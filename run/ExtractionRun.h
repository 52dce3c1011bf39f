// The extraction run: extracts the ticked rows of a track list one after the other, names each
// file from the output folder and the row's title, asks before replacing a file, tags MP3
// and FLAC files, marks each row "OK" or "Cancelled", and at the end resets the progress and
// may open the output folder. Names follow MoreSettings.NamePattern; MoreSettings.FullTags
// adds an ID3v2.4 tag to every MP3 file and the full Vorbis comments to every FLAC file, whose
// level is MoreSettings.FlacLevel. Toolkit-free; the extraction window and tessaly-rip both
// drive it.
//
// Every track's samples pass through a proof (verify/): the drive's read offset is corrected
// and the CRC32 and AccurateRip checksums are taken as it is read. With MoreSettings.RipLog the
// disc is looked up in the AccurateRip database while the tracks are read, each track's
// verification goes to the host, and a rip log is written beside the files at the end.
//
// Usage: implement TExtractionHost (the rows, the labels, the question, the end), then
// TExtractionRun(host, ripper, tagger, settings), SetReadOffset, Perform(output) once. Perform returns the
// modal result (1 OK, 2 Cancel); an error that ends the run is raised after the end-of-run
// steps (host.Finish included) have run.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "tags/TrackTags.h"
#include "verify/DiscProof.h"
#include "verify/RipLog.h"

class TCDRIP;
class TMP3Info;
class TRunProof;
struct TMP3Settings;

enum class TRunOutput { Wav, Mp3, Raw, Flac };

// The answers to the overwrite question, as the message dialog's modal results.
enum TOverwriteAnswer : int {
  oaNone = 0,     // not asked (no dialog returns it)
  oaClosed = 2,   // the close box: replaces, like Yes
  oaYes = 6,
  oaNo = 7,       // ends the run here
  oaYesToAll = 10 // replaces, and asks no more in this run
};

// What the run needs from the front end that hosts it.
class TExtractionHost {
 public:
  virtual ~TExtractionHost() = default;

  // The track list: row captions are the titles; the track index is the zero-based index in
  // the CD component's track list, as decimal text.
  virtual int RowCount() const = 0;
  virtual bool RowChecked(int row) const = 0;
  virtual std::string RowCaption(int row) const = 0;
  virtual std::string RowTrackIndex(int row) const = 0;
  // What is known of the row's track beyond its caption, for the tags and the names: artist,
  // album values, MusicBrainz identifiers; nothing by default. The run sets the title (the
  // caption) itself, and the track number and the disc's audio-track count when left 0.
  virtual TTrackTags RowTags(int /*row*/) const { return {}; }
  // "OK" or "Cancelled", once the row's file is finished; fileName is that file.
  virtual void SetRowStatus(int row, const std::string& status, const std::string& fileName) = 0;

  // "Extract <title> (n of N)...", as the row's extraction begins.
  virtual void ShowStatus(int row, const std::string& line) = 0;
  virtual void ShowPath(const std::string& line) = 0;    // "To <file>"
  // The question "<name> already exists,do you want to replace it?"; a TOverwriteAnswer.
  virtual int AskOverwrite(const std::string& name) = 0;
  // Set by the front end's Cancel; read before every row and after every track.
  virtual bool Cancelled() const = 0;

  // End of the run, in this order: the bar and the shared percentage back to 0; the output
  // folder (with its trailing "/") when it is to be opened; the modal result.
  virtual void ResetProgress() = 0;
  virtual void OpenFolder(const std::string& folder) = 0;
  virtual void Finish(int modalResult) = 0;

  // With the rip log on: a row's verification ("Accurately ripped (confidence N) [v2]"...),
  // after its status; and, before Finish, the run's summary line ("All tracks accurately
  // ripped"...) once the log is written. Nothing by default.
  virtual void TrackVerified(int /*row*/, const std::string& /*text*/) {}
  virtual void RunSummary(const std::string& /*text*/) {}
  // Where the names came from, for the log ("cdplayer.ini", "CD-Text", "MusicBrainz"...).
  virtual std::string NamesSource() const { return {}; }
};

// A track the drive would not open for reading: no file was written, and an older file of
// that name is not this run's result.
class ETrackNotRead : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whether the CD library refused the last track because the drive's disc is no longer the one
// listed (its listing is then dropped and the drive is to be listed again).
bool DiscChangedSinceListing();

// A row's track index that is not a number of the track list.
class EBadTrackIndex : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A row's track index as a number: the whole text a decimal integer, else EBadTrackIndex with
// the conversion error's text.
int RowTrackIndexOf(const std::string& text);
// Whether something (a file, a folder, a link, even a dangling one) stands at an output name.
bool OutputNameTaken(const std::string& name);

// A tag that could not be written into a finished MP3 file.
class ETagNotWritten : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TExtractionRun {
 public:
  TExtractionRun(TExtractionHost& host, TCDRIP& ripper, TMP3Info& tagger, TMP3Settings& settings);
  ~TExtractionRun();
  TExtractionRun(const TExtractionRun&) = delete;
  TExtractionRun& operator=(const TExtractionRun&) = delete;

  // The drive's read offset in samples (signed), whether somebody set it for this drive, and
  // whether the disc is an image (no drive, no paranoia). Unset: 0, not known, a drive.
  void SetReadOffset(int32_t samples, bool known, bool image) {
    offset_ = samples;
    offsetKnown_ = known;
    image_ = image;
  }

  int Perform(TRunOutput output);

  int LastAnswer() const { return lastAnswer_; }
  const std::string& LastName() const { return lastName_; }  // the last file name built
  // The last run's log (its rows, look-up and summary) and the file it went to ("" when none
  // was written: the log off, or nothing ripped).
  const verify::TRipLog& RipLog() const;
  const std::string& RipLogName() const;

 private:
  void extractRow(int row, int ordinal, int total, TRunOutput output);

  int32_t offset_ = 0;
  bool offsetKnown_ = false;
  bool image_ = false;
  std::unique_ptr<TRunProof> proof_;

  TExtractionHost& host_;
  TCDRIP& ripper_;
  TMP3Info& tagger_;
  TMP3Settings& settings_;
  int lastAnswer_ = oaNone;
  std::string lastName_;
  bool stop_ = false;  // the question was answered No
};

// The tags of a row's track as the run writes them: the host's values, the caption as title,
// the track's number on the disc and the number of the disc's audio tracks where the host left
// them 0.
TTrackTags RunTrackTags(const TExtractionHost& host, const TCDRIP& ripper, int row, int trackIndex);
// The extension of an output format's files: ".wav", ".mp3", ".raw", ".flac".
std::string RunOutputExtension(TRunOutput output);

// The output folder every name starts with, "/" at its end: the folder part that
// GetOutputFileName puts in front of a title.
std::string RunOutputFolder(const std::string& outDir);
// The WAV file name of a row by its caption alone (the default pattern): GetOutputFileName of
// the caption with blanks trimmed at the ends of its parts, or of the track list's own entry
// text when nothing usable is left of the caption (a blank title would give a hidden file
// named ".wav", and every blank title the same one).
std::string RunOutputFileName(const std::string& outDir, const std::string& caption, const std::string& entryText);
// The WAV file name of a row's track as a run names it: MoreSettings.NamePattern with the
// track's tags (RunTrackTags), the entry text where no file name is left.
std::string RunOutputFileName(const std::string& outDir, const TTrackTags& tags, const std::string& entryText);
// Creates the folders between the output folder and the file `name` (which starts with
// `folder`): the output folder as the user gave it, links included, then each subfolder of the
// title one by one without following a symbolic link. Raises EFCreateError for `name` when a
// symbolic link or a non-folder stands where a subfolder belongs; any other failure is left
// for the file's creation to report.
void CreateRunFolders(const std::string& folder, const std::string& name);
// The folder part of a file name, with its trailing "/".
std::string FolderOf(const std::string& name);
