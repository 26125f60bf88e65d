// The three logs of received traffic: the per-code message counts, the
// bounded event log of messages and line errors, and the debug lines.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataport/message.h"
#include "interpret/counters.h"
#include "interpret/string_grid.h"

namespace volmar {

// Where log rows get their times; tests inject fixed ones.
struct TLogClock {
    std::function<std::uint32_t()> TickMs;       // milliseconds since the system started
    std::function<std::string()> LongTimeNow;  // local time, long time format
    static TLogClock System();
};

inline constexpr int kMessageGridCols = 4;
inline constexpr int kMessageGridRows = 129;
inline constexpr int kEventGridCols = 6;
inline constexpr int kEventLogLimit = 101;  // the title row and the newest 100 entries
inline constexpr int kDebugLineLimit = 200;

extern const std::array<std::string_view, kMessageGridCols> MessageGridTitles;
extern const std::array<std::string_view, kEventGridCols> EventGridTitles;
// Designed widths; the message grid's description column (1) is computed.
inline constexpr std::array<int, kMessageGridCols> kMessageGridWidths = {32, 0, 56, 56};
inline constexpr std::array<int, kEventGridCols> kEventGridWidths = {64, 200, 64, 64, 64, 365};
inline constexpr int kGridRowHeight = 18;

// The room left for the description column of the message grid, its other
// columns as wide as Widths says.
int DescriptionColumnWidth(int GridWidth, int ScrollBarWidth,
                           std::span<const int> Widths = kMessageGridWidths);

// "Buffer overrun" ... "Tx queue is full", or "Unknown line error (%d)".
std::string LineErrorText(std::uint16_t Code);

class IDebugLogObserver {
public:
    virtual ~IDebugLogObserver() = default;
    virtual void LineAppended(const std::string& Line) = 0;
    virtual void FirstLineRemoved() = 0;
    virtual void Cleared() = 0;
};

// The debug memo's lines, newest last; recorded only while the debug panel
// is visible.
class TDebugLog {
public:
    bool Visible() const { return FVisible; }
    void SetVisible(bool Visible) { FVisible = Visible; }
    const std::deque<std::string>& Lines() const { return FLines; }
    void AddDebugLine(std::string Line);
    void Clear();
    void SetObserver(IDebugLogObserver* Observer) { FObserver = Observer; }

private:
    bool FVisible = false;
    std::deque<std::string> FLines;
    IDebugLogObserver* FObserver = nullptr;
};

class TLogs {
public:
    explicit TLogs(TLogClock Clock = TLogClock::System());

    TStringGrid Messages{kMessageGridCols, kMessageGridRows};
    TStringGrid Events{kEventGridCols, 1};
    TDebugLog Debug;

    // Titles of both grids, and every code's row from the loaded counts.
    void InitLogGrids(const TCounters& Counters);
    // Writes a count into the message grid; 0 shows as an empty cell.
    void ShowMessageCount(int Col, int Row, std::int32_t Count);
    void LogMessage(const TDPMessage* Msg, TAcception Acception, const std::string& Text);
    void LogLineError(std::uint16_t Code);
    // A row of the port's own: its time and Text, nothing else.
    void LogNote(const std::string& Text);
    // A note about the next message, known before the message is logged
    // (a fault that refuses it): its row follows the message's.
    void LogNoteAfterNextMessage(std::string Text);
    // What went on the line for the newest message when it was not the
    // answer logged: "none", or the byte sent instead ("3Fh").
    void ShowSentInstead(const std::string& Text);
    // Back to the title row alone, with no fixed row.
    void CutEventLog();
    // "%d %s: %s" with the tick count, only while the debug panel is visible.
    void DebugLog(std::string_view Caption, std::string_view Text = {});

private:
    TLogClock FClock;
    std::vector<std::string> FNotesAfterMessage;
    // Rows logged since the newest message's; -1 when it is not in the log.
    int FRowsSinceMessage = -1;
};

} // namespace volmar
