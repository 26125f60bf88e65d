#include "tools/machine_options.h"

#include <charconv>
#include <optional>

namespace volmar::machine {

namespace {

int Whole(const std::string& Option, const std::string& Value, int Low, int High) {
    if (Value.empty() || Value.find_first_not_of("0123456789") != std::string::npos ||
        Value.size() > 9)
        throw EUsage(Option + " takes a whole number, not \"" + Value + "\"");
    const int n = std::stoi(Value);
    if (n < Low || n > High)
        throw EUsage(Option + " " + Value + " is out of range (" + std::to_string(Low) + " to " +
                     std::to_string(High) + ")");
    return n;
}

// "recorded", "fast" or "xN" (N from 0.01 to 1000).
double Pace(const std::string& Value) {
    if (Value == "recorded") return 1.0;
    if (Value == "fast") return 0.0;
    double n = 0;
    if (Value.size() > 1 && Value[0] == 'x') {
        const char* end = Value.data() + Value.size();
        const auto [at, error] = std::from_chars(Value.data() + 1, end, n);
        if (error == std::errc() && at == end && n >= 0.01 && n <= 1000) return n;
    }
    throw EUsage("--pace takes recorded, fast or xN (N from 0.01 to 1000), not \"" + Value + "\"");
}

} // namespace

TOptions ParseCommandLine(const std::vector<std::string>& Args) {
    TOptions o;
    bool haveScript = false;
    bool replayOnly = false;
    for (std::size_t i = 0; i < Args.size(); ++i) {
        std::string option = Args[i];
        std::optional<std::string> attached;
        if (const auto eq = option.find('='); option.starts_with("--") && eq != std::string::npos) {
            attached = option.substr(eq + 1);
            option = option.substr(0, eq);
        }
        const auto value = [&]() -> std::string {
            if (attached) return *attached;
            if (i + 1 >= Args.size()) throw EUsage(option + " needs a value");
            return Args[++i];
        };
        if (option == "--help" || option == "-h") {
            o.Help = true;
        } else if (option == "--list") {
            o.List = true;
        } else if (option == "--version") {
            o.Version = true;
        } else if (option == "--device") {
            o.Device = value();
            if (o.Device.empty()) throw EUsage("--device needs a path");
        } else if (option == "--pty") {
            o.Pty = true;
            if (attached)
                o.Link = *attached;
            else if (i + 1 < Args.size() && !Args[i + 1].starts_with("-"))
                o.Link = Args[++i];
        } else if (option == "--baud") {
            const std::string v = value();
            if (v != "1200" && v != "9600")
                throw EUsage("--baud takes 1200 or 9600, not \"" + v + "\"");
            o.Baud = std::stoi(v);
        } else if (option == "--reply-timeout") {
            o.ReplyTimeoutMs = Whole(option, value(), 1, 600000);
        } else if (option == "--retries") {
            o.Retries = Whole(option, value(), 0, 100);
        } else if (option == "--script") {
            o.ScriptFile = value();
            if (o.ScriptFile.empty()) throw EUsage("--script needs a file");
            haveScript = true;
        } else if (option == "--break") {
            const std::string kind = value();
            TBreaches& b = o.Breaches;
            bool* flag = kind == "no-repeat-bit"      ? &b.NoRepeatBit
                         : kind == "other-data"       ? &b.OtherData
                         : kind == "give-up"          ? &b.GiveUp
                         : kind == "resend-acked"     ? &b.ResendAcked
                         : kind == "resend-after-esc" ? &b.ResendAfterEsc
                         : kind == "gap"              ? &b.Gap
                         : kind == "bad-checksum"     ? &b.BadChecksum
                                                      : nullptr;
            if (!flag)
                throw EUsage("--break takes no-repeat-bit, other-data, give-up, resend-acked, "
                             "resend-after-esc, gap or bad-checksum, not \"" + kind + "\"");
            *flag = true;
        } else if (option == "--demo") {
            o.Demo = true;
        } else if (option == "--replay") {
            o.ReplayFile = value();
            if (o.ReplayFile.empty()) throw EUsage("--replay needs a capture file");
        } else if (option == "--pace") {
            o.PaceSpeed = Pace(value());
            replayOnly = true;
        } else if (option == "--expect") {
            o.Expect = true;
            replayOnly = true;
        } else if (option == "--control") {
            o.Control = value();
            if (o.Control.empty()) throw EUsage("--control needs the simulator's socket");
            replayOnly = true;
        } else if (option == "--set-totals-first") {
            o.SetTotalsFirst = true;
            replayOnly = true;
        } else {
            throw EUsage("unknown option \"" + Args[i] + "\"");
        }
    }
    if (o.Help || o.List || o.Version) return o;
    if (o.Pty == !o.Device.empty()) throw EUsage("give one of --device PATH and --pty [LINK]");
    if (int(haveScript) + int(o.Demo) + int(!o.ReplayFile.empty()) != 1)
        throw EUsage("give one of --script FILE, --demo and --replay CAPTURE");
    if (replayOnly && o.ReplayFile.empty())
        throw EUsage("--pace, --expect, --control and --set-totals-first are for --replay");
    if (o.SetTotalsFirst && o.Control.empty())
        throw EUsage("--set-totals-first sets them through the simulator's --control socket");
    return o;
}

std::string HelpText() {
    return R"(volmar-machine: a stand-in gaming machine for the Volmar Simulator's dataport.

Usage:
  volmar-machine (--device PATH | --pty [LINK]) [--baud 1200|9600]
                 [--reply-timeout MS] [--retries N] [--break KIND]...
                 (--script FILE | --demo)
  volmar-machine (--device PATH | --pty [LINK]) [--baud 1200|9600]
                 [--reply-timeout MS] --replay CAPTURE [--pace recorded|fast|xN]
                 [--expect] [--control PATH [--set-totals-first]]
  volmar-machine --list | --version | --help

The line:
  --device PATH       a serial device, e.g. /dev/ttyUSB0 (odd parity, 8 data
                      bits, 1 stop bit)
  --pty [LINK]        makes a pseudo-terminal and prints "pty: /dev/pts/N" as the
                      first line on standard output: give that path (or LINK,
                      made as a symlink to it and removed at exit) to the
                      simulator, e.g. in its settings file:
                          [Devices]
                          COM1=/dev/pts/N
                      The machine starts once the simulator has opened it and
                      stops when the simulator closes it.
  --baud 1200|9600    line speed (default 9600)
  --reply-timeout MS  how long to wait for an answer (default 1000). The
                      simulator answers a broken frame only after about 0.6 s
                      of quiet, and a resend that comes sooner restarts that
                      wait and is lost: below 600 ms one broken frame costs
                      the next message too (a warning says so)
  --retries N         resends after a NAK or no answer (default 3)

  --break KIND        breaks a rule of the dataport on purpose, to show that the
                      simulator's judge catches it (may be given several times):
                        no-repeat-bit     resends without bit 7 of the header
                        other-data        resends with the last data byte changed
                                          (messages without data are resent as
                                          they were)
                        give-up           never resends (as --retries 0)
                        resend-acked      sends each acknowledged message again,
                                          with bit 7 set
                        resend-after-esc  resends a message refused with ESC
                        gap               a pause of 300 ms after the header of
                                          every 4th message
                        bad-checksum      a wrong checksum on every 4th message
                      a broken first copy is resent whole.

Information:
  --list              every message code with its class, its name and what the
                      simulator answers to it
  --version           the program's version

What to send:
  --script FILE       the lines of FILE, in order ("-" reads standard input);
                      the whole file is checked before anything is sent
  --demo              an endless session at a human pace: power on, doors and
                      keys, coins, games and wins, credits, cashbox, attendant;
                      ends on Ctrl+C, SIGTERM or when the line closes
  --replay CAPTURE    plays the machine's side of a capture file of the
                      simulator's (text or JSON Lines): every byte the machine
                      sent, in order and with the pauses inside frames, each
                      frame waiting for its answer (up to the reply timeout);
                      each answer is compared with the one captured, and
                      "difference: <captured time> (line N)  <frame>  captured
                      <X>  now <Y>" is printed for each that differs, with a
                      summary line at the end. A capture with a line that is
                      not a record, or cut in the middle of a line, is refused
                      naming the line, and nothing is sent
  --pace P            recorded (default): the captured times between frames;
                      fast: each frame as soon as the last was answered; xN: N
                      times faster than recorded. Pauses inside a frame are
                      kept at every pace
  --expect            any difference (answers, or totals checked through
                      --control) makes the exit status 1
  --control PATH      the simulator's control socket: its totals are compared
                      with those the capture begins and ends with
  --set-totals-first  sets the simulator's totals to those the capture begins
                      with before the first frame (the eight Edit Meters sets)

Output: one line per exchange,
  HH:MM:SS.mmm  <frame in hex>  <Ack|Nak|Esc|none>  <latency in us or ->  retries=<n>
with the final answer and the number of resends; " expected <X>" is added
when the answer differs from the script's expectation. A message answered NAK
or not at all is sent again with bit 7 of its header set (checksum rebuilt).
Bytes that arrive while no answer is awaited are ignored.

Exit status: 0 every expectation held, 1 one did not (or, with --replay
--expect, an answer or a total differed), 2 a mistake in the command line,
the script or the capture ("<file>:<line>: <what>" on standard error), a
failing device or an unreachable control socket.

Script lines ('#' starts a comment, blank lines are skipped, keywords ignore
case):
  send <message> [retry] [noretry] [args...] [-> Ack|Nak|Esc|none]
      <message> is a code (26h, 0x26 or 38) or a name in double quotes
      ("100Ft In"); a name several codes share ("Reserved") needs the code.
      volmar-machine --list shows them all.
      retry    sends with bit 7 set from the start
      noretry  no resends for this line
      args     one- and two-data-byte messages: one number (decimal, or
               0x../..h), a byte or a big-endian 16-bit word, e.g.
               send "Game" 500;
               "Power on" (70h): key=value pairs, all optional:
               manufacturer=VLM version=100 amc=0x7F dataport=0xFF
               credit=100 percent=85 switches=0x0080 protocol=B values=bcd|binary;
               any message: bytes <hex...> gives the data bytes themselves
               (as many as the message carries; 1 to 20 for variable length)
  raw <hex bytes and ~MS pauses> [wait=MS] [-> answer]
      bytes as they are, never resent; ~200 waits 200 ms before the next
      byte. The answer is the first byte within the reply timeout (or
      wait=MS) after the last byte; a broken frame is answered NAK only
      after half a second of silence, so give it wait=1000 or so.
  pause <ms>
  rts on | rts off    the RTS line (no effect on a pseudo-terminal)

Example:
  # power on, a coin, a game and a win
  send "Power on" manufacturer=ABC version=102 credit=100 values=bcd -> Ack
  send "100Ft In" -> Ack
  send 69h 100 -> Ack            # Game, stake 100 Ft
  send "Win Report" 300 -> Ack
  send 6Ah bytes 00 01 -> Esc    # a code the simulator does not support
  raw 69 00 0A 74 wait=1500 -> Nak   # bad checksum
  raw 20 ~300 20 wait=1500 -> Nak    # a gap inside the frame
  pause 1000
)";
}

std::string ReplyTimeoutWarning(int ReplyTimeoutMs) {
    if (ReplyTimeoutMs >= kSimulatorQuietMs) return {};
    return "warning: a reply timeout of " + std::to_string(ReplyTimeoutMs) +
           " ms is shorter than the " + std::to_string(kSimulatorQuietMs) +
           " ms of quiet the simulator waits for before it answers a broken frame; "
           "resends then land in that wait and the next message is lost as well";
}

} // namespace volmar::machine
