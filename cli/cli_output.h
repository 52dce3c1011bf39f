// SPDX-License-Identifier: GPL-3.0-or-later
// What tessaly-rip writes to the terminal: escaped outside text, standard output whose failed
// writes are told once and fail the run, and the exit statuses.
#pragma once

#include <string>

namespace cli {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Text as it may be shown on a terminal: control characters (C0, DEL and C1) and bytes that
// are not UTF-8 are written as \xHH, so that names from a shared cdplayer.ini cannot drive
// the terminal.
std::string shown(const std::string& text);
// A line on standard output (the listing, the names of finished files).
void out(const std::string& line);
// A line on standard error, its outside text escaped.
void note(const std::string& line);
// The exit status, once standard output has been flushed: a failed write there is a failure.
int finish(int status);
[[noreturn]] void usageError(const std::string& message);
// Tells the message; the failure status.
int fail(const std::string& message);

}  // namespace cli
