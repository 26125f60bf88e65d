#include "interpret/logs.h"

#include <time.h>

#include <utility>

#include "dataport/str_format.h"

namespace volmar {

TLogClock TLogClock::System() {
    return {
        [] {
            timespec ts{};
            ::clock_gettime(CLOCK_MONOTONIC, &ts);
            return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                              static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
        },
        [] {
            const time_t now = ::time(nullptr);
            tm local{};
            ::localtime_r(&now, &local);
            char text[64];
            const std::size_t n = ::strftime(text, sizeof text, "%X", &local);
            return std::string(text, n);
        },
    };
}

const std::array<std::string_view, kMessageGridCols> MessageGridTitles = {"Code", "Description",
                                                                          "Messages", "Retries"};
const std::array<std::string_view, kEventGridCols> EventGridTitles = {
    "Time", "Interpretation", "Valid", "Retry", "Response", "Dataport Message Received"};

int DescriptionColumnWidth(int GridWidth, int ScrollBarWidth, std::span<const int> Widths) {
    return GridWidth - Widths[0] - Widths[2] - Widths[3] - ScrollBarWidth - 9;
}

std::string LineErrorText(std::uint16_t Code) {
    static constexpr const char* texts[] = {
        "Buffer overrun",          "Rx overrun",          "Rx parity error",
        "Rx framing error",        "Tx timeout waiting for CTS", "Tx timeout waiting for DSR",
        "Tx timeout waiting for RLSD", "Tx queue is full",
    };
    if (Code >= 1 && Code <= 8) return texts[Code - 1];
    return StrFormat("Unknown line error (%d)", static_cast<int>(Code));
}

void TDebugLog::AddDebugLine(std::string Line) {
    if (FLines.size() >= static_cast<std::size_t>(kDebugLineLimit)) {
        FLines.pop_front();
        if (FObserver) FObserver->FirstLineRemoved();
    }
    FLines.push_back(std::move(Line));
    if (FObserver) FObserver->LineAppended(FLines.back());
}

void TDebugLog::Clear() {
    FLines.clear();
    if (FObserver) FObserver->Cleared();
}

TLogs::TLogs(TLogClock Clock) : FClock(std::move(Clock)) {}

void TLogs::InitLogGrids(const TCounters& Counters) {
    for (int c = 0; c < kMessageGridCols; ++c)
        Messages.SetCell(c, 0, std::string(MessageGridTitles[static_cast<std::size_t>(c)]));
    for (int c = 0; c < kEventGridCols; ++c)
        Events.SetCell(c, 0, std::string(EventGridTitles[static_cast<std::size_t>(c)]));
    Messages.SetRowCount(kMessageGridRows);
    Messages.SetFixedRows(1);
    for (int code = 0; code < 128; ++code) {
        Messages.SetCell(0, code + 1, StrFormat("%.2x", code));
        Messages.SetCell(1, code + 1, std::string(DPMessageNames[static_cast<std::size_t>(code)]));
        ShowMessageCount(2, code + 1, Counters.Codes[code].Messages);
        ShowMessageCount(3, code + 1, Counters.Codes[code].Retries);
    }
}

void TLogs::ShowMessageCount(int Col, int Row, std::int32_t Count) {
    Messages.SetCell(Col, Row, Count == 0 ? std::string() : std::to_string(Count));
}

void TLogs::LogMessage(const TDPMessage* Msg, TAcception Acception, const std::string& Text) {
    AddGridRow(Events, kEventLogLimit);
    const int r = Events.RowCount() - 1;
    Events.SetCell(0, r, FClock.LongTimeNow());
    if (Msg->MsgClass == mcInvalid) {
        Events.SetCell(2, r, "No");
        Events.SetCell(1, r, "Invalid Message");
    } else {
        Events.SetCell(5, r, MessageFrameHex(Msg));
        Events.SetCell(2, r, "Yes");
        const std::string_view name = DPMessageNames[Msg->Code()];
        Events.SetCell(1, r, Text.empty() ? std::string(name) : Text + " " + std::string(name));
    }
    Events.SetCell(3, r, (Msg->Header & 0x80) ? "Yes" : "No");
    Events.SetCell(4, r, std::string(ReplyNames[Acception <= acNotSupported ? Acception
                                                                            : acNotSupported]));
    FRowsSinceMessage = 0;
    for (const std::string& note : std::exchange(FNotesAfterMessage, {})) LogNote(note);
}

void TLogs::LogNoteAfterNextMessage(std::string Text) {
    FNotesAfterMessage.push_back(std::move(Text));
}

void TLogs::ShowSentInstead(const std::string& Text) {
    const int row = Events.RowCount() - 1 - FRowsSinceMessage;
    if (FRowsSinceMessage >= 0 && row >= 1) Events.SetCell(4, row, Text);
}

void TLogs::LogLineError(std::uint16_t Code) {
    LogNote(LineErrorText(Code));
    Events.SetCell(2, Events.RowCount() - 1, "No");
}

void TLogs::LogNote(const std::string& Text) {
    if (FRowsSinceMessage >= 0) ++FRowsSinceMessage;
    AddGridRow(Events, kEventLogLimit);
    const int r = Events.RowCount() - 1;
    Events.SetCell(0, r, FClock.LongTimeNow());
    Events.SetCell(1, r, Text);
}

void TLogs::CutEventLog() {
    FRowsSinceMessage = -1;
    Events.SetRowCount(1);
    Events.SetFixedRows(0);
}

void TLogs::DebugLog(std::string_view Caption, std::string_view Text) {
    if (!Debug.Visible()) return;
    Debug.AddDebugLine(StrFormat("%u %.*s: %.*s", FClock.TickMs(), static_cast<int>(Caption.size()),
                                 Caption.data(), static_cast<int>(Text.size()), Text.data()));
}

} // namespace volmar
