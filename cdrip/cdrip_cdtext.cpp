// SPDX-License-Identifier: GPL-3.0-or-later
// CD-Text through libcdio: the selected drive's handle, or packs given by the caller.
#include <cdio/cdio.h>
#include <cdio/cdtext.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "cdrip/CdText.h"
#include "cdrip/cdrip_internal.h"

namespace {

// Picks the block: English when present, else the first block that exists.
void selectLanguage(cdtext_t* t) {
  cdtext_lang_t* langs = cdtext_list_languages_v2(t);
  if (!langs) return;
  int first = -1;
  for (int i = 0; i < 8; ++i) {
    if (langs[i] == CDTEXT_LANGUAGE_BLOCK_UNUSED) continue;
    if (langs[i] == CDTEXT_LANGUAGE_ENGLISH) {
      cdtext_set_language_index(t, i);
      return;
    }
    if (first < 0) first = i;
  }
  if (first >= 0) cdtext_set_language_index(t, first);
}

bool fill(cdtext_t* t, int lastTrack, TCdTextInfo* out) {
  *out = TCdTextInfo{};
  if (!t) return false;
  selectLanguage(t);
  const int last = std::clamp(lastTrack, 0, 99);
  out->title.assign(static_cast<size_t>(last) + 1, std::string());
  out->performer.assign(static_cast<size_t>(last) + 1, std::string());
  for (int n = 0; n <= last; ++n) {
    const auto track = static_cast<track_t>(n);
    if (const char* s = cdtext_get_const(t, CDTEXT_FIELD_TITLE, track)) out->title[static_cast<size_t>(n)] = s;
    if (const char* s = cdtext_get_const(t, CDTEXT_FIELD_PERFORMER, track))
      out->performer[static_cast<size_t>(n)] = s;
    out->present = out->present || !out->title[static_cast<size_t>(n)].empty() ||
                   !out->performer[static_cast<size_t>(n)].empty();
  }
  if (const char* g = cdtext_get_const(t, CDTEXT_FIELD_GENRE, 0)) out->genre = g;
  const cdtext_lang_t lang = cdtext_get_language(t);
  out->language = lang == CDTEXT_LANGUAGE_INVALID || lang == CDTEXT_LANGUAGE_BLOCK_UNUSED ? -1 : lang;
  return out->present;
}

struct CdtextCloser {
  void operator()(cdtext_t* t) const { cdtext_destroy(t); }
};

}  // namespace

bool CR_ReadCdText(int lastTrack, TCdTextInfo* out) {
  if (!out) return false;
  *out = TCdTextInfo{};
  cdrip_internal::Drive* d = cdrip_internal::active();
  if (!d || !cdrip_internal::openCdio(*d)) return false;
  // The handle keeps the cdtext_t it made; it is freed with the handle.
  return fill(cdio_get_cdtext(d->cdio.get()), lastTrack, out);
}

bool CR_ParseCdTextPacks(const uint8_t* packs, size_t size, int lastTrack, TCdTextInfo* out) {
  if (!out) return false;
  *out = TCdTextInfo{};
  if (!packs || size == 0) return false;
  std::unique_ptr<cdtext_t, CdtextCloser> t(cdtext_init());
  // libcdio's parser takes a writable buffer; it is given a copy.
  std::vector<uint8_t> copy(packs, packs + size);
  if (!t || cdtext_data_init(t.get(), copy.data(), copy.size()) != 0) return false;
  return fill(t.get(), lastTrack, out);
}
