// The port's byte trace and its information log: bounded rings that are
// switched on, paused, cleared and dumped to their files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace volmar {

enum TTraceLogState : std::uint8_t { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

inline constexpr std::uint32_t kMaxTraceEntries = 4000000;
inline constexpr std::uint32_t kMaxLogEntries = 16000000;

// What both recorders share: the state changes, the size and the file.
// Subclasses hold the entries.
class TRecorder {
public:
    explicit TRecorder(std::uint32_t MaxSize, std::string FileName);
    virtual ~TRecorder() = default;

    TTraceLogState State() const { return FState; }
    // Applies the state table for an open or a closed port. A dump that
    // cannot write its file raises EInOutError; the entries are discarded.
    void SetState(TTraceLogState Value, bool PortOpen);
    std::uint32_t Size() const { return FSize; }
    void SetSize(std::uint32_t Value, bool PortOpen);
    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& Value);  // cut to 255 characters
    bool Hex() const { return FHex; }
    void SetHex(bool Value) { FHex = Value; }

    // At open a stored tlOn starts a new buffer; at close everything is dumped.
    void PortOpened();
    void PortClosing();
    bool Recording() const { return FState == tlOn; }

protected:
    virtual void Allocate(std::uint32_t Size) = 0;
    virtual void Discard() = 0;
    virtual bool HasEntries() const = 0;
    // Writes the entries to an open file.
    virtual std::string Render() const = 0;

private:
    void Dump(bool Append);

    std::uint32_t FMaxSize;
    std::uint32_t FSize = 10000;
    std::string FFileName;
    bool FHex = true;
    TTraceLogState FState = tlOff;
};

// Trace entries: 'R' for a byte taken from the receive ring, 'T' for a byte
// queued for sending.
class TTraceRecorder : public TRecorder {
public:
    explicit TTraceRecorder(std::uint32_t MaxSize);
    void Record(char Kind, std::uint8_t Byte);
    // Oldest first.
    std::vector<std::pair<char, std::uint8_t>> Entries() const;

protected:
    void Allocate(std::uint32_t Size) override;
    void Discard() override;
    bool HasEntries() const override;
    std::string Render() const override;

private:
    std::vector<std::pair<char, std::uint8_t>> FRing;
    std::size_t FNext = 0;
    bool FWrapped = false;
    std::uint32_t FCapacity = 0;
};

// Log entries: the time in milliseconds and a line of text.
class TLogRecorder : public TRecorder {
public:
    explicit TLogRecorder(std::uint32_t MaxSize);
    void Record(std::uint32_t TimeMs, std::string Text);
    std::vector<std::pair<std::uint32_t, std::string>> Entries() const;

protected:
    void Allocate(std::uint32_t Size) override;
    void Discard() override;
    bool HasEntries() const override;
    std::string Render() const override;

private:
    std::vector<std::pair<std::uint32_t, std::string>> FRing;
    std::size_t FNext = 0;
    bool FWrapped = false;
    std::uint32_t FCapacity = 0;
};

// The trace dump's text for entries, oldest first.
std::string RenderTrace(const std::vector<std::pair<char, std::uint8_t>>& Entries, bool Hex);

} // namespace volmar
