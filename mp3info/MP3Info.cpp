// SPDX-License-Identifier: GPL-3.0-or-later
#include "MP3Info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace {

constexpr size_t kTagBytes = 128;
constexpr uint8_t kDefaultGenre = 12;

// The genre names as one text of quoted, comma-separated names; entry n is genre n.
constexpr const char* kGenreText =
    "\"Blues\",\"Classic Rock\",\"Country\",\"Dance\",\"Disco\",\"Funk\",\"Grunge\",\"Hip-Hop\",\"Jazz\","
    "\"Metal\",\"New Age\",\"Oldies\",\"Other\",\"Pop\",\"R&B\",\"Rap\",\"Reggae\",\"Rock\",\"Techno\","
    "\"Industrial\",\"Alternative\",\"Ska\",\"Death Metal\",\"Pranks\",\"Soundtrack\",\"Euro-Techno\","
    "\"Ambient\",\"Trip-Hop\",\"Vocal\",\"Jazz+Funk\",\"Fusion\",\"Trance\",\"Classical\",\"Instrumental\","
    "\"Acid\",\"House\",\"Game\",\"Sound Clip\",\"Gospel\",\"Noise\",\"AlternRock\",\"Bass\",\"Soul\","
    "\"Punk\",\"Space\",\"Meditative\",\"Instrumental Pop\",\"Instrumental Rock\",\"Ethnic\",\"Gothic\","
    "\"Darkwave\",\"Techno-Industrial\",\"Electronic\",\"Pop-Folk\",\"Eurodance\",\"Dream\","
    "\"Southern Rock\",\"Comedy\",\"Cult\",\"Gangsta\",\"Top 40\",\"Christian Rap\",\"Pop/Funk\",\"Jungle\","
    "\"Native American\",\"Cabaret\",\"New Wave\",\"Psychedelic\",\"Rave\",\"Showtunes\",\"Trailer\","
    "\"Lo-Fi\",\"Tribal\",\"Acid Punk\",\"Acid Jazz\",\"Polka\",\"Retro\",\"Musical\",\"Rock & Roll\","
    "\"Hard Rock\",\"Folk\",\"Folk/Rock\",\"National Folk\",\"Swing\",\"Bebob\",\"Latin\",\"Revival\","
    "\"Celtic\",\"Bluegrass\",\"Avantgarde\",\"Gothic Rock\",\"Progressive Rock\",\"Psychedelic Rock\","
    "\"Symphonic Rock\",\"Slow Rock\",\"Big Band\",\"Chorus\",\"Easy Listening\",\"Acoustic\",\"Humour\","
    "\"Speech\",\"Chanson\",\"Opera\",\"Chamber Music\",\"Sonata\",\"Symphony\",\"Booty Bass\",\"Primus\","
    "\"Porn Groove\",\"Satire\",\"Slow Jam\",\"Club\",\"Tango\",\"Samba\",\"Folklore\"";

std::vector<std::string> parseGenres() {
  std::vector<std::string> names;
  std::string cur;
  bool quoted = false;
  for (const char* p = kGenreText; *p; ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else if (*p == ',' && !quoted) {
      names.push_back(cur);
      cur.clear();
    } else {
      cur += *p;
    }
  }
  names.push_back(cur);
  return names;
}

bool fileExists(const std::string& name) {
  struct stat st {};
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The read-only attribute is the owner's missing write permission. Clears it; false when it
// stays.
bool clearReadOnly(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  if (st.st_mode & S_IWUSR) return true;
  if (::chmod(name.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) return false;
  return ::stat(name.c_str(), &st) == 0 && (st.st_mode & S_IWUSR);
}

std::string ioError(const std::string& what) { return "I/O error: " + what; }

// Length in bytes of the UTF-8 sequence that starts with c (1 for stray bytes).
size_t seqLen(unsigned char c) {
  if (c >= 0xF0 && c < 0xF8) return 4;
  if (c >= 0xE0) return c < 0xF0 ? 3 : 1;
  if (c >= 0xC0) return 2;
  return 1;
}

}  // namespace

const std::vector<std::string>& GenreTable() {
  static const std::vector<std::string> table = parseGenres();
  return table;
}

std::string FirstChars(const std::string& s, size_t n) {
  size_t pos = 0;
  for (size_t chars = 0; chars < n && pos < s.size(); ++chars)
    pos = std::min(s.size(), pos + seqLen(static_cast<unsigned char>(s[pos])));
  return s.substr(0, pos);
}

std::string ToLatin1(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = std::min(seqLen(c), s.size() - i);
    uint32_t cp = c;
    if (len == 2) cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
    else if (len > 2) cp = 0x110000;  // beyond ISO-8859-1 whatever it is
    else if (c >= 0x80) cp = 0x110000;
    out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    i += len;
  }
  return out;
}

std::string FromLatin1(const std::string& s) {
  std::string out;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

TMP3Info::TMP3Info() : Genres(GenreTable()) {}

void TMP3Info::fail(const std::string& message) {
  error_ = message;
  if (onError) onError(*this);
}

void TMP3Info::changed() {
  if (onChange) onChange(*this);
}

void TMP3Info::SetFilename(const std::string& name) {
  filename_ = name;
  ReadTag();
}

void TMP3Info::SetArtist(const std::string& v) {
  artist_ = FirstChars(v, 30);
  changed();
}
void TMP3Info::SetTitle(const std::string& v) {
  title_ = FirstChars(v, 30);
  changed();
}
void TMP3Info::SetAlbum(const std::string& v) {
  album_ = FirstChars(v, 30);
  changed();
}
void TMP3Info::SetYear(const std::string& v) {
  year_ = FirstChars(v, 4);
  changed();
}
void TMP3Info::SetComment(const std::string& v) {
  comment_ = FirstChars(v, 30);
  changed();
}

void TMP3Info::SetGenreID(uint8_t v) {
  genreId_ = v < Genres.size() ? v : kDefaultGenre;
  genre_ = Genres[genreId_];
  changed();
}

void TMP3Info::ReadTag() {
  saved_ = false;
  valid_ = true;
  if (!fileExists(filename_)) {
    valid_ = false;
    fail("File doesn`t exist !");
    return;
  }
  char block[kTagBytes];
  {
    platform::UniqueFd fd(::open(filename_.c_str(), O_RDONLY | O_CLOEXEC));
    // An input/output failure raises; the tag is then not taken as valid, so that a later
    // Save appends rather than overwriting the file's last bytes.
    if (fd.get() < 0) {
      valid_ = false;
      throw EInOutError(ioError(std::strerror(errno)));
    }
    const off_t size = ::lseek(fd.get(), 0, SEEK_END);
    if (size < static_cast<off_t>(kTagBytes)) {
      valid_ = false;
      throw EInOutError(ioError(size < 0 ? std::strerror(errno) : "the file is shorter than a tag"));
    }
    const ssize_t n = ::pread(fd.get(), block, kTagBytes, size - static_cast<off_t>(kTagBytes));
    if (n != static_cast<ssize_t>(kTagBytes)) {
      valid_ = false;
      throw EInOutError(ioError(n < 0 ? std::strerror(errno) : "short read"));
    }
  }
  // The block reads as text that ends before its first NUL byte.
  const size_t textLen = strnlen(block, kTagBytes);
  const std::string text(block, textLen);
  if (text.compare(0, 3, "TAG") != 0 || textLen < 3) {
    valid_ = false;
    title_.clear();
    artist_.clear();
    album_.clear();
    comment_.clear();
    year_.clear();
    genreId_ = kDefaultGenre;
    fail("Wrong file format or no ID3 Tag !");
    return;
  }
  auto field = [&](size_t offset, size_t width) {
    std::string f = offset < text.size() ? text.substr(offset, width) : std::string();
    while (!f.empty() && f.back() == ' ') f.pop_back();
    return FromLatin1(f);
  };
  title_ = field(3, 30);
  artist_ = field(33, 30);
  album_ = field(63, 30);
  comment_ = field(97, 30);
  year_ = field(93, 4);
  const auto g = static_cast<uint8_t>(block[127]);
  genreId_ = g < Genres.size() ? g : kDefaultGenre;
  genre_ = Genres[genreId_];
  if (onChangeFile) onChangeFile(*this);
}

void TMP3Info::Save() {
  saved_ = true;
  if (!fileExists(filename_)) {
    valid_ = false;
    saved_ = false;
    fail("File doesn`t exist or is not valid !");
    return;
  }
  char block[kTagBytes];
  std::memset(block, ' ', sizeof block);
  auto put = [&](size_t offset, size_t width, const std::string& utf8) {
    const std::string latin = ToLatin1(utf8);
    std::memcpy(block + offset, latin.data(), std::min(width, latin.size()));
  };
  std::memcpy(block, "TAG", 3);
  put(3, 30, title_);
  put(33, 30, artist_);
  put(63, 30, album_);
  put(97, 30, comment_);
  put(93, 4, year_);
  block[127] = static_cast<char>(genreId_);

  if (!clearReadOnly(filename_)) {
    saved_ = false;
    fail("Can't write ID3 tag information !");
    return;
  }
  platform::UniqueFd fd(::open(filename_.c_str(), O_RDWR | O_CLOEXEC));
  bool ok = fd.get() >= 0;
  if (ok) {
    const off_t at = ::lseek(fd.get(), valid_ ? -static_cast<off_t>(kTagBytes) : 0, SEEK_END);
    ok = at >= 0 && ::write(fd.get(), block, kTagBytes) == static_cast<ssize_t>(kTagBytes);
  }
  ok = fd.Close() && ok;
  if (!ok) saved_ = false;
}

void TMP3Info::RemoveID3() {
  if (!fileExists(filename_)) {
    fail("File doesn`t exist !");
    return;
  }
  if (!valid_) {
    fail("File is already untagged !");
    return;
  }
  if (!clearReadOnly(filename_)) {
    fail("Can\xC2\xB4t write ID3 tag information !");
    return;
  }
  platform::UniqueFd fd(::open(filename_.c_str(), O_RDWR | O_CLOEXEC));
  if (fd.get() < 0) {
    fail("Could not open file !");
    return;
  }
  const off_t size = ::lseek(fd.get(), 0, SEEK_END);
  if (size < static_cast<off_t>(kTagBytes) || ::ftruncate(fd.get(), size - static_cast<off_t>(kTagBytes)) != 0)
    throw EInOutError(ioError(size < 0 ? std::strerror(errno) : "cannot cut the tag off"));
  if (!fd.Close()) throw EInOutError(ioError(std::strerror(errno)));
  valid_ = false;
}
