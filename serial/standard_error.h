// Standard error, written by every part of the program through one door: a
// reader that has gone away (EPIPE) is noticed there once, and from then on
// nothing more is written to it.
#pragma once

#include <cstdint>
#include <string_view>

namespace volmar {

// How much a line matters, as syslog and the journal rank it.
enum class TPriority : std::uint8_t { Error = 3, Warning = 4, Note = 6 };

// Writes Line and a newline in one piece, from any thread; nothing once the
// reader has gone away.
void WriteStandardError(std::string_view Line, TPriority Priority = TPriority::Error);

// True once a write found that no one reads standard error any more.
bool StandardErrorLost();

// From now on each line written starts with its priority as the journal
// reads it ("<3>", "<4>", "<6>"); for a standard error that systemd's
// journal reads (JournalStreamIsStandardError).
void SetJournalPrefixes(bool On);

// True when JOURNAL_STREAM names the very file standard error is, as
// systemd sets it for a service whose output goes to the journal.
bool JournalStreamIsStandardError();

} // namespace volmar
