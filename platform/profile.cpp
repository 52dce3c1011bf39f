// SPDX-License-Identifier: GPL-3.0-or-later
#include "profile.h"

#include "unique_fd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace platform {
namespace {

namespace fs = std::filesystem;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// One line of the file, as byte offsets into its text; the line end is not part of it.
struct Line {
  size_t begin, end, next;  // next: where the following line starts
};

std::vector<Line> splitLines(const std::string& text, size_t from) {
  std::vector<Line> lines;
  size_t pos = from;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    const size_t next = nl == std::string::npos ? text.size() : nl + 1;
    size_t end = nl == std::string::npos ? text.size() : nl;
    if (end > pos && text[end - 1] == '\r') --end;
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

size_t bodyStart(const std::string& text) {
  return text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
}

// "[name]": the name between the brackets, trimmed.
std::optional<std::string_view> sectionName(std::string_view line) {
  line = trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trim(line.substr(1, close - 1));
}

bool isComment(std::string_view line) {
  line = trim(line);
  return !line.empty() && (line.front() == ';' || line.front() == '#');
}

// "key=value": both parts trimmed; nothing for lines without "=" or with an empty key.
std::optional<std::pair<std::string_view, std::string_view>> keyValue(std::string_view line) {
  if (isComment(line)) return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const auto key = trim(line.substr(0, eq));
  if (key.empty() || key.front() == '[') return std::nullopt;
  return std::make_pair(key, trim(line.substr(eq + 1)));
}

std::optional<std::string> readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Calls f(key, value, line) for each key line of the section; false when there is none.
template <class F>
bool forEachKey(const std::string& text, std::string_view section, F&& f) {
  bool inSection = false, found = false;
  for (const Line& l : splitLines(text, bodyStart(text))) {
    const std::string_view line(text.data() + l.begin, l.end - l.begin);
    if (auto name = sectionName(line)) {
      inSection = SameText(*name, section);
      found = found || inSection;
      continue;
    }
    if (!inSection) continue;
    if (auto kv = keyValue(line)) f(kv->first, kv->second, l);
  }
  return found;
}

// The file with `key` in `section` set to `value`, everything else as it was.
std::string withKey(const std::string& text, std::string_view section, std::string_view key, std::string_view value) {
  const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const auto lines = splitLines(text, bodyStart(text));
  bool inSection = false;
  std::optional<size_t> sectionEnd;  // where a new key of the section goes
  for (const Line& l : lines) {
    const std::string_view line(text.data() + l.begin, l.end - l.begin);
    if (auto name = sectionName(line)) {
      if (inSection) break;  // the section ended: insert at sectionEnd
      inSection = SameText(*name, section);
      if (inSection) sectionEnd = l.next;
      continue;
    }
    if (!inSection) continue;
    if (auto kv = keyValue(line); kv && SameText(kv->first, key)) {
      // Replace only the value: the key's own spelling and the line end stay.
      const size_t keyEnd = static_cast<size_t>(kv->first.data() - text.data()) + kv->first.size();
      return text.substr(0, keyEnd) + "=" + std::string(value) + text.substr(l.end);
    }
    if (!trim(line).empty()) sectionEnd = l.next;  // after the section's last non-blank line
  }
  std::string out = text;
  const std::string entry = std::string(key) + "=" + std::string(value) + eol;
  if (sectionEnd) {
    size_t at = *sectionEnd;
    // The section's last line may have had no line end.
    if (at == out.size() && !out.empty() && out.back() != '\n') {
      out += eol;
      at = out.size();
    }
    out.insert(at, entry);
    return out;
  }
  if (!out.empty() && out.back() != '\n') out += eol;
  out += "[" + std::string(section) + "]" + eol + entry;
  return out;
}

// A section's body (the lines after its header, up to the next header) with `key` set to
// `value` as withKey would set it. `atEnd`: the body ends the file; `endsInNewline`: the file's
// last character is a line end.
std::string withKeyInBody(const std::string& body, std::string_view key, std::string_view value,
                          const std::string& eol, bool atEnd, bool endsInNewline) {
  size_t insertAt = 0;  // after the body's last non-blank line
  for (const Line& l : splitLines(body, 0)) {
    const std::string_view line(body.data() + l.begin, l.end - l.begin);
    if (auto kv = keyValue(line); kv && SameText(kv->first, key)) {
      const size_t keyEnd = static_cast<size_t>(kv->first.data() - body.data()) + kv->first.size();
      return body.substr(0, keyEnd) + "=" + std::string(value) + body.substr(l.end);
    }
    if (!trim(line).empty()) insertAt = l.next;
  }
  std::string out = body;
  if (insertAt == out.size() && atEnd && !endsInNewline) {
    out += eol;
    insertAt = out.size();
  }
  out.insert(insertAt, std::string(key) + "=" + std::string(value) + eol);
  return out;
}

// The file with every key of `keys` set in `section`, as writing them one after the other
// would leave it, in one pass over the file: only the section's own lines are looked at again
// for each key.
std::string withKeys(const std::string& text, std::string_view section,
                     const std::vector<std::pair<std::string, std::string>>& keys) {
  // The section's first occurrence: from its header line to the next header. Lines are walked
  // in place, as a big shared file has hundreds of thousands of them.
  size_t headerNext = std::string::npos, end = text.size();
  for (size_t pos = bodyStart(text); pos < text.size();) {
    const size_t nl = text.find('\n', pos);
    const size_t next = nl == std::string::npos ? text.size() : nl + 1;
    const std::string_view line(text.data() + pos, (nl == std::string::npos ? text.size() : nl) - pos);
    if (line.find('[') != std::string_view::npos) {
      if (auto name = sectionName(line)) {
        if (headerNext != std::string::npos) {
          end = pos;
          break;
        }
        if (SameText(*name, section)) headerNext = next;
      }
    }
    pos = next;
  }
  if (headerNext == std::string::npos) {
    // No such section: the first key makes it at the end, the others follow inside it.
    if (keys.empty()) return text;
    std::string out = withKey(text, section, keys.front().first, keys.front().second);
    const std::vector<std::pair<std::string, std::string>> rest(keys.begin() + 1, keys.end());
    return rest.empty() ? out : withKeys(out, section, rest);
  }
  // The section's body, edited key by key as its own small file, then put back.
  const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  std::string body = text.substr(headerNext, end - headerNext);
  const bool bodyIsLast = end == text.size();
  for (const auto& [key, value] : keys) {
    const bool endsInNewline = body.empty() ? text[headerNext - 1] == '\n' : body.back() == '\n';
    body = withKeyInBody(body, key, value, eol, bodyIsLast, endsInNewline);
  }
  return text.substr(0, headerNext) + body + text.substr(end);
}

bool writeAllFd(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t w = ::write(fd, data.data() + done, data.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w == 0) errno = ENOSPC;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::optional<std::string> ReadProfileString(const fs::path& file, std::string_view section, std::string_view key) {
  // Names are taken as the file's lines are: without surrounding blanks.
  section = trim(section);
  key = trim(key);
  const auto text = readAll(file);
  if (!text) return std::nullopt;
  std::optional<std::string> value;
  forEachKey(*text, section, [&](std::string_view k, std::string_view v, const Line&) {
    if (!value && SameText(k, key)) value = std::string(v);
  });
  return value;
}

std::optional<std::vector<std::pair<std::string, std::string>>> ReadProfileSection(const fs::path& file,
                                                                                  std::string_view section) {
  section = trim(section);
  const auto text = readAll(file);
  if (!text) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> entries;
  const bool found = forEachKey(*text, section, [&](std::string_view k, std::string_view v, const Line&) {
    for (const auto& e : entries)
      if (SameText(e.first, k)) return;
    entries.emplace_back(std::string(k), std::string(v));
  });
  if (!found) return std::nullopt;
  return entries;
}

namespace {

bool validName(std::string_view section, std::string_view key, std::string_view value) {
  // Section and key names, and values, are single-line text.
  for (std::string_view s : {section, key, value})
    if (s.find_first_of("\r\n") != std::string_view::npos) return false;
  section = trim(section);
  key = trim(key);
  return !(key.empty() || key.front() == '[' || key.front() == ';' || key.front() == '#' ||
           key.find('=') != std::string_view::npos || section.find(']') != std::string_view::npos);
}

// The file a name stands for: a symbolic link is followed (to a file that may not exist yet),
// so a link stays a link and its target is what gets replaced, in the target's own folder.
fs::path resolvedTarget(const fs::path& file) {
  fs::path p = file;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) return p;
    const fs::path target = fs::read_symlink(p, ec);
    if (ec) return p;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  return p;
}

// Temporary files of earlier writers of this file ("." + name + "." + six characters) that a
// writer killed between creating and renaming them left behind. Called with the file's lock
// held, when no living writer has one.
void removeLeftovers(const fs::path& folder, const std::string& name) {
  const std::string prefix = "." + name + ".";
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) continue;
    bool suffix = true;
    for (size_t i = prefix.size(); i < entry.size(); ++i)
      suffix = suffix && std::isalnum(static_cast<unsigned char>(entry[i]));
    std::error_code sec;
    if (suffix && fs::is_regular_file(fs::symlink_status(it->path(), sec))) fs::remove(it->path(), sec);
  }
}

// Replaces the file with `edit` of its text, atomically, under an advisory lock on the file.
// On failure errno tells why, and a file this call created is removed again, so a folder that
// cannot take the text (a full disk) is left without an empty file that would read as values.
template <class Edit>
bool replaceFile(const fs::path& name, Edit&& edit) {
  const fs::path file = resolvedTarget(name);
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  bool created = false;
  const auto fail = [&] {
    const int err = errno;
    if (created) ::unlink(file.c_str());
    errno = err;
    return false;
  };
  // Lock the file itself; a writer that got the lock on a file since replaced tries again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto openOrCreate = [&] {
      const int existing = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
      if (existing >= 0 || errno != ENOENT) return existing;
      const int made = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
      created = made >= 0;
      return made;
    };
    UniqueFd fd(openOrCreate());
    if (fd.get() < 0 && errno == EEXIST) continue;  // another writer made it: open that one
    if (fd.get() < 0) return fail();
    // File systems without locks (ENOLCK on some network mounts) are written unlocked: one
    // writer at a time is then the user's affair, as it was before locks.
    if (::flock(fd.get(), LOCK_EX) != 0 && errno != ENOLCK && errno != EOPNOTSUPP) return fail();
    struct stat held {}, now {};
    if (::fstat(fd.get(), &held) != 0) return fail();
    if (::lstat(file.c_str(), &now) != 0 || now.st_ino != held.st_ino || now.st_dev != held.st_dev) {
      created = false;  // replaced by another writer: no longer ours to remove
      continue;
    }
    removeLeftovers(folder, file.filename().string());

    std::string text;
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd.get(), buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail();
      if (n == 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    const std::string updated = edit(text);

    std::string tmpl = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
    UniqueFd tmp(::mkstemp(tmpl.data()));
    if (tmp.get() < 0) return fail();
    // The replacement keeps the file's permission bits (mkstemp makes it private).
    const bool ok = writeAllFd(tmp.get(), updated) && ::fchmod(tmp.get(), held.st_mode & 07777) == 0 &&
                    ::fsync(tmp.get()) == 0 && ::rename(tmpl.c_str(), file.c_str()) == 0;
    if (!ok) {
      const int err = errno;
      ::unlink(tmpl.c_str());
      errno = err;
      return fail();
    }
    // Make the rename itself durable.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
  }
  errno = EBUSY;
  return false;
}

}  // namespace

bool WriteProfileString(const fs::path& file, std::string_view section, std::string_view key, std::string_view value) {
  if (!validName(section, key, value)) return false;
  section = trim(section);
  key = trim(key);
  return replaceFile(file, [&](const std::string& text) { return withKey(text, section, key, value); });
}

bool WriteProfileStrings(const fs::path& file, std::string_view section,
                         const std::vector<std::pair<std::string, std::string>>& keys) {
  // Every key is checked before anything is written: a refused one writes none.
  for (const auto& [key, value] : keys)
    if (!validName(section, key, value)) return false;
  section = trim(section);
  std::vector<std::pair<std::string, std::string>> trimmed;
  trimmed.reserve(keys.size());
  for (const auto& [key, value] : keys) trimmed.emplace_back(std::string(trim(key)), value);
  return replaceFile(file, [&](const std::string& text) { return withKeys(text, section, trimmed); });
}

}  // namespace platform
