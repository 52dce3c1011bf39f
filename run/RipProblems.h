// SPDX-License-Identifier: GPL-3.0-or-later
// What tessaly-rip tells about a track that could not be read, or was read with errors, and
// about a drive without a readable disc: the reasons the CD component and its library know,
// in words for the user. Toolkit-free.
#pragma once

#include <string>

class TCDRIP;
struct TReadReport;

// "no readable disc in drive N (NAME)", and the library's reason when it knows one.
std::string NoDiscText(const TCDRIP& ripper);

// Why the selected drive would not open track trackNum (from 1) for reading: a zero-length
// track, a disc that is gone (the table of contents is read again, so the track list is
// renewed), a data track, or the drive's own refusal.
std::string WhyTrackNotRead(TCDRIP& ripper, int trackNum);

// What reading track trackNum met, for the line that ends its row; empty when it met
// nothing. A disc image has no damaged sectors, only sectors it lacks (left silent).
std::string ReadErrorsText(const TCDRIP& ripper, int trackNum, const TReadReport& report);
