// SPDX-License-Identifier: GPL-3.0-or-later
// The program's settings record and the routines other parts share: LoadSettings /
// SaveSettings, IntToStr2, and the album-information file (ReadCDInfo / WriteCDInfo).
// Toolkit-free; the message dialog with chosen captions lives in globals_dialog.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct TMP3Settings {
  bool AskOverwrite;      // ask before an existing output file is replaced (not stored)
  std::string OutDir;     // output folder, as typed or chosen
  bool OpenWhenDone;      // open the output folder after a run
  int32_t SampleRates;    // Hz
  int32_t BitRates;       // kbit/s; the minimum with VBR
  int32_t MaxBitRates;    // kbit/s
  int32_t Mode;           // TLameMode ordinal
  int32_t Quality;        // MPEG_QUALITY ordinal
  int32_t EnableVBR;      // 32-bit booleans from here: -1 true, 0 false
  int32_t WriteVBRHeader;
  int32_t VBRQuality;     // 0..9
  int32_t CopyRight;
  int32_t Original;
  int32_t CRC;
  int32_t bPrivate;
};

// The values at start-up, written by a first run.
TMP3Settings StartupSettings();
extern TMP3Settings Settings;

// Settings beyond the MP3 record, in the same file (globals_more.cpp): the formats, tags and
// names of the files, the encoders, the look-ups, the drive, the rip log. Read by LoadSettings,
// written by SaveSettings; out-of-range values read as the default.
struct TMoreSettings {
  int32_t FlacLevel = 5;                   // [FLAC] Level, 0..8
  bool FullTags = true;                    // [Tags] Full: artist, album, track number...
  std::string NamePattern = "%title%";     // [System] NamePattern
  int32_t Jobs = 0;                        // [System] Jobs: encoders, 0 = the number of cores
  bool RipLog = true;                      // [System] RipLog: a log beside the files
  bool LookupAutomatic = true;             // [Lookup] Automatic: ask when a disc has no names
  std::string LookupServer = "https://musicbrainz.org";           // [Lookup] Server
  std::string AccurateRipServer = "http://www.accuraterip.com";  // [Lookup] AccurateRip
  int32_t ReadOffset = 0;                  // [Drive] ReadOffset, samples, signed
  int32_t Retries = 20;                    // [Drive] Retries per sector
};
extern TMoreSettings MoreSettings;
// The ranges the settings file accepts. A read offset far beyond any drive's (the known ones
// lie within a few thousand samples), but small enough that a shifted track never reaches past
// what a disc can address.
constexpr int32_t kMaxReadOffset = 100000;  // samples, either sign
constexpr int32_t kMaxJobs = 256;
void LoadMoreSettings(const std::filesystem::path& file);
void SaveMoreSettings(const std::filesystem::path& file);
// The MusicBrainz server: $TESSALY_MUSICBRAINZ_URL when set, else [Lookup] Server; no "/" at
// its end.
std::string MusicBrainzServer();
// The AccurateRip server: $TESSALY_ACCURATERIP_URL when set, else [Lookup] AccurateRip.
std::string AccurateRipServer();
// A drive's read offset: [Drive <name>] ReadOffset when that section has it, else
// [Drive] ReadOffset.
int32_t DriveReadOffset(const std::string& driveName);
// Whether the read offset of this drive was set by the user anywhere (a rip with offset 0 from
// a drive whose offset nobody set cannot be matched against other drives' rips).
bool DriveReadOffsetKnown(const std::string& driveName);

// A value that cannot be written: "Unable to write to <file>", with the system's reason apart.
class EIniFileException : public std::runtime_error {
 public:
  EIniFileException(const std::string& file, std::string reason)
      : std::runtime_error("Unable to write to " + file), Reason(std::move(reason)) {}
  std::string Reason;  // "Permission denied", "No space left on device"...
};
// Writes one key of the settings file; raises EIniFileException when it cannot.
void WriteSetting(const std::filesystem::path& file, const char* section, const char* key, const std::string& value);
// Why the settings cannot be saved (no home folder, a folder or file that cannot be written),
// empty when nothing stands in the way. Asks the system without writing anything.
std::string SettingsSaveProblem();

// $XDG_CONFIG_HOME/tessaly/tessaly.ini; empty when no home folder is known.
std::filesystem::path SettingsFileName();
// Reads the file into Settings; false when it was missing (it is then written).
bool LoadSettings();
// Writes every stored field; raises EIniFileException at the first key it cannot write.
void SaveSettings();

// Decimal text, padded with "0" to two characters: 7 -> "07", 123 -> "123".
std::string IntToStr2(uint16_t number);

// The album-information file, one section per disc, named by its DiscID.
std::filesystem::path CDPlayerIniPath();  // $XDG_CONFIG_HOME/tessaly/cdplayer.ini; or empty
// Fills the results from the disc's section ("No Title", "No Artist" and "Other" when empty);
// true unless a failure occurred, whether or not the section exists.
bool ReadCDInfo(const std::string& discId, std::string& artist, std::string& title, std::string& year,
                std::string& genre, std::vector<std::string>& trackNames);
// Writes artist, album, year and genre, then one key per track name when names are given, in
// one replacement of the file: all of them or, when one cannot be written, none.
bool WriteCDInfo(const std::string& discId, const std::string& artist, const std::string& album,
                 const std::string& year, const std::string& genre, const std::vector<std::string>* trackNames);

// The album-level values a disc's section holds as stored (no defaults), for a save that must
// not lose them: the album title is "album" when present, else "title".
struct TStoredAlbum {
  std::string Artist, Album, Year, Genre;
};
TStoredAlbum ReadStoredAlbum(const std::string& discId);

// The integer conventions of the INI files: decimal, or hexadecimal after "0x"; anything else
// gives the default.
int32_t IniTextToInt(const std::string& text, int32_t defaultValue);

// The WAV file name for a track title: the output folder (blanks and control characters
// trimmed, "/" appended; nothing left of it means the user's music folder, never the root: with
// no music folder known either it raises std::runtime_error) and
// the trimmed title, with ".wav". A "/" in the title makes
// subfolders, but never leaves the output folder: leading separators, empty, "." and ".."
// parts are dropped.
std::string GetOutputFileName(const std::string& outDir, const std::string& title);
