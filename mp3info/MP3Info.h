// SPDX-License-Identifier: GPL-3.0-or-later
// TMP3Info: the ID3v1 tag of one MP3 file, the 128-byte block at its very end, and the genre
// table. Assigning Filename reads the file's tag; set the texts, then Save; RemoveID3 cuts the
// tag off. Failures set Error and fire onError; input/output errors of reading raise
// EInOutError. Texts are UTF-8 here and ISO-8859-1 in the block ("?" for what it lacks).
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class TMP3Info;
using TMP3NotifyEvent = std::function<void(TMP3Info& sender)>;

// The system's input/output error, for a file that cannot be opened or read as a tag holder.
class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TMP3Info {
 public:
  TMP3Info();
  TMP3Info(const TMP3Info&) = delete;
  TMP3Info& operator=(const TMP3Info&) = delete;

  const std::string& Filename() const { return filename_; }
  void SetFilename(const std::string& name);  // then reads the tag
  const std::string& Artist() const { return artist_; }
  void SetArtist(const std::string& v);
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& v);
  const std::string& Album() const { return album_; }
  void SetAlbum(const std::string& v);
  const std::string& Year() const { return year_; }
  void SetYear(const std::string& v);
  const std::string& Comment() const { return comment_; }
  void SetComment(const std::string& v);
  const std::string& Genre() const { return genre_; }
  uint8_t GenreID() const { return genreId_; }
  void SetGenreID(uint8_t v);  // above the table's last index: 12
  bool Valid() const { return valid_; }
  bool Saved() const { return saved_; }
  const std::string& Error() const { return error_; }

  TMP3NotifyEvent onChangeFile;
  TMP3NotifyEvent onChange;
  TMP3NotifyEvent onError;

  std::vector<std::string> Genres;  // entry n names genre number n

  void Save();
  void RemoveID3();

 private:
  void ReadTag();
  void fail(const std::string& message);
  void changed();

  std::string filename_, artist_, title_, album_, year_, comment_, genre_, error_;
  uint8_t genreId_ = 12;
  bool valid_ = false;
  bool saved_ = false;
};

// The genre table's 115 names.
const std::vector<std::string>& GenreTable();

// UTF-8 text cut to its first n characters (never inside a character).
std::string FirstChars(const std::string& utf8, size_t n);
// ISO-8859-1 for the tag block; a character it lacks becomes "?".
std::string ToLatin1(const std::string& utf8);
std::string FromLatin1(const std::string& latin1);
