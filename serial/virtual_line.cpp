#include "serial/virtual_line.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "serial/port_errors.h"

namespace volmar {

// Everything the two ends share; one lock guards it all.
struct TVirtualLine::State {
    struct TItem {
        std::uint8_t Byte = 0;
        std::uint8_t Errors = 0;  // an error item when not 0; it carries no byte
    };

    explicit State(std::string LineName) : Name(std::move(LineName)) {}

    const std::string Name;
    mutable std::mutex Lock;
    std::condition_variable PortWake;
    // The far end's waits.
    std::condition_variable SentWake;

    std::deque<TItem> Input;
    std::vector<std::uint8_t> Sent;
    bool FarEndReading = true;
    std::vector<std::uint8_t> Queued;  // written while the far end does not read
    bool HoldWrites = false;
    bool WriteHeld = false;
    std::uint8_t Modem = 0;
    bool ModemChanged = false;
    bool Vanished = false;

    bool Open = false;
    TLineSettings Settings{9600, pNone, 8, 1};
    int SettingsWrites = 0;
    bool DTR = false;
    bool RTS = false;
    int InputPurges = 0;
    int OutputPurges = 0;
};

namespace {

constexpr std::string_view kPrefix = "virtual:";

std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, std::weak_ptr<TVirtualLine>>& Registry() {
    static std::map<std::string, std::weak_ptr<TVirtualLine>> lines;
    return lines;
}

class TVirtualDeviceLayer : public IDeviceLayer {
public:
    using TState = TVirtualLine::State;

    void Open(const std::string& Path) override {
        Close();
        if (!Path.starts_with(kPrefix)) throw EBadId();
        const auto line = TVirtualLine::Find(Path.substr(kPrefix.size()));
        if (!line) throw EBadId();
        const auto state = line->Shared();
        {
            std::lock_guard lock(state->Lock);
            if (state->Vanished) throw EBadId();
            if (state->Open) throw EAlreadyOpen();
            state->Open = true;
            state->ModemChanged = false;
        }
        FLine = state;
        FOpen = true;
        FVanishReported = false;
        FWakePending = false;
    }

    void Close() override {
        if (!FOpen) return;
        {
            std::lock_guard lock(FLine->Lock);
            FLine->Open = false;
        }
        FLine = std::make_shared<TState>("");
        FOpen = false;
        FWakePending = false;
    }

    void SetQueueSizes(std::uint16_t, std::uint16_t) override {}

    TLineSettings LineSettings() override {
        RequireOpen();
        std::lock_guard lock(FLine->Lock);
        return FLine->Settings;
    }

    void SetLineSettings(const TLineSettings& Settings) override {
        RequireOpen();
        if (Settings.Baud <= 0 || Settings.DataBits < 5 || Settings.DataBits > 8 ||
            Settings.StopBits < 1 || Settings.StopBits > 3 || Settings.Parity > pSpace)
            throw EInOutError(EINVAL);
        std::lock_guard lock(FLine->Lock);
        FLine->Settings = Settings;
        ++FLine->SettingsWrites;
    }

    void SetDTR(bool Level) override {
        RequireOpen();
        std::lock_guard lock(FLine->Lock);
        FLine->DTR = Level;
    }

    void SetRTS(bool Level) override {
        RequireOpen();
        std::lock_guard lock(FLine->Lock);
        FLine->RTS = Level;
    }

    std::uint8_t ModemLevels() override {
        std::lock_guard lock(FLine->Lock);
        return FOpen && !FLine->Vanished ? FLine->Modem : 0;
    }

    std::size_t Read(std::uint8_t* Buffer, std::size_t Max, std::uint8_t& Errors) override {
        std::lock_guard lock(FLine->Lock);
        if (!FOpen || FLine->Vanished) return 0;
        std::size_t n = 0;
        auto& input = FLine->Input;
        while (n < Max && !input.empty()) {
            const TState::TItem item = input.front();
            input.pop_front();
            if (item.Errors)
                Errors |= item.Errors;
            else
                Buffer[n++] = item.Byte;
        }
        return n;
    }

    std::size_t Write(const std::uint8_t* Bytes, std::size_t Count) override {
        std::unique_lock lock(FLine->Lock);
        if (FLine->HoldWrites) {
            FLine->WriteHeld = true;
            FLine->SentWake.notify_all();
            FLine->PortWake.wait(lock, [this] { return !FLine->HoldWrites; });
            FLine->WriteHeld = false;
        }
        if (!FOpen || FLine->Vanished) return 0;
        if (!FLine->FarEndReading) {
            const std::size_t n = std::min(Count, Room());
            FLine->Queued.insert(FLine->Queued.end(), Bytes, Bytes + n);
            return n;
        }
        FLine->Sent.insert(FLine->Sent.end(), Bytes, Bytes + Count);
        FLine->SentWake.notify_all();
        return Count;
    }

    void PurgeInput() override {
        std::lock_guard lock(FLine->Lock);
        if (!FOpen) return;
        FLine->Input.clear();
        ++FLine->InputPurges;
    }

    void PurgeOutput() override {
        std::lock_guard lock(FLine->Lock);
        if (!FOpen) return;
        FLine->Queued.clear();
        ++FLine->OutputPurges;
        FLine->PortWake.notify_all();
        FLine->SentWake.notify_all();
    }

    unsigned WaitEvent(int TimeoutMs) override {
        std::unique_lock lock(FLine->Lock);
        const auto ready = [this] { return FWakePending || DeviceEventPending(); };
        if (TimeoutMs < 0)
            FLine->PortWake.wait(lock, ready);
        else
            FLine->PortWake.wait_for(lock, std::chrono::milliseconds(TimeoutMs), ready);
        unsigned events = 0;
        if (FWakePending) {
            FWakePending = false;
            events |= kEventWoken;
        }
        if (!FOpen) return events;
        if (FLine->Vanished) {
            if (!FVanishReported) events |= kEventVanished;
            FVanishReported = true;
            return events;
        }
        if (!FLine->Input.empty()) events |= kEventInput;
        if (FLine->ModemChanged) {
            FLine->ModemChanged = false;
            events |= kEventModem;
        }
        return events;
    }

    bool WaitWritable(int TimeoutMs) override {
        std::unique_lock lock(FLine->Lock);
        // Once nothing will take output any more, it waits as asked all the
        // same, so that no caller spins.
        const auto writable = [this] { return FOpen && !FLine->Vanished && Room() > 0; };
        const auto ready = [&] { return FWakePending || writable(); };
        if (TimeoutMs < 0)
            FLine->PortWake.wait(lock, ready);
        else
            FLine->PortWake.wait_for(lock, std::chrono::milliseconds(TimeoutMs), ready);
        if (writable()) return true;
        FWakePending = false;
        return false;
    }

    void Wake() override {
        std::lock_guard lock(FLine->Lock);
        FWakePending = true;
        FLine->PortWake.notify_all();
    }

    bool Vanished() const override {
        std::lock_guard lock(FLine->Lock);
        return FOpen && FLine->Vanished;
    }

private:
    void RequireOpen() const {
        if (!FOpen) throw ECommNotOpen();
    }

    // Called with the line locked.
    std::size_t Room() const {
        if (FLine->FarEndReading) return TVirtualLine::kDeviceOutputQueue;
        return TVirtualLine::kDeviceOutputQueue - FLine->Queued.size();
    }

    // Called with the line locked.
    bool DeviceEventPending() const {
        if (!FOpen) return false;
        if (FLine->Vanished) return !FVanishReported;
        return !FLine->Input.empty() || FLine->ModemChanged;
    }

    // While closed the layer waits on a line of its own that nothing feeds.
    std::shared_ptr<TState> FLine = std::make_shared<TState>("");
    bool FOpen = false;
    // Guarded by FLine->Lock.
    bool FWakePending = false;
    bool FVanishReported = false;
};

} // namespace

TVirtualLine::TVirtualLine(std::shared_ptr<State> S) : FState(std::move(S)) {}

std::shared_ptr<TVirtualLine> TVirtualLine::Create(const std::string& Name) {
    std::shared_ptr<TVirtualLine> line(new TVirtualLine(std::make_shared<State>(Name)));
    std::lock_guard lock(RegistryLock());
    Registry()[Name] = line;
    return line;
}

std::shared_ptr<TVirtualLine> TVirtualLine::Find(const std::string& Name) {
    std::lock_guard lock(RegistryLock());
    const auto it = Registry().find(Name);
    return it == Registry().end() ? nullptr : it->second.lock();
}

TVirtualLine::~TVirtualLine() {
    std::lock_guard lock(RegistryLock());
    // A line that replaced this one under the same name stays registered.
    const auto it = Registry().find(FState->Name);
    if (it != Registry().end() && it->second.expired()) Registry().erase(it);
}

const std::string& TVirtualLine::Name() const { return FState->Name; }

void TVirtualLine::Send(const std::vector<std::uint8_t>& Bytes) {
    std::lock_guard lock(FState->Lock);
    if (FState->Vanished || Bytes.empty()) return;
    for (const std::uint8_t b : Bytes) FState->Input.push_back({b, 0});
    FState->PortWake.notify_all();
}

void TVirtualLine::InjectError(std::uint8_t ErrFlags) {
    std::lock_guard lock(FState->Lock);
    if (FState->Vanished || ErrFlags == 0) return;
    FState->Input.push_back({0, ErrFlags});
    FState->PortWake.notify_all();
}

void TVirtualLine::SetModemLines(std::uint8_t Levels) {
    Levels &= kModemCTS | kModemDSR | kModemRI | kModemDCD;
    std::lock_guard lock(FState->Lock);
    if (Levels == FState->Modem) return;
    FState->Modem = Levels;
    FState->ModemChanged = true;
    FState->PortWake.notify_all();
}

std::uint8_t TVirtualLine::ModemLines() const {
    std::lock_guard lock(FState->Lock);
    return FState->Modem;
}

std::vector<std::uint8_t> TVirtualLine::TakeSent() {
    std::lock_guard lock(FState->Lock);
    std::vector<std::uint8_t> sent;
    sent.swap(FState->Sent);
    return sent;
}

bool TVirtualLine::WaitSent(std::size_t Count, std::chrono::milliseconds Timeout) {
    std::unique_lock lock(FState->Lock);
    return FState->SentWake.wait_for(lock, Timeout, [&] { return FState->Sent.size() >= Count; });
}

void TVirtualLine::Vanish() {
    std::lock_guard lock(FState->Lock);
    FState->Vanished = true;
    FState->Input.clear();
    FState->PortWake.notify_all();
}

void TVirtualLine::SetFarEndReading(bool Reading) {
    std::lock_guard lock(FState->Lock);
    FState->FarEndReading = Reading;
    if (!Reading) return;
    FState->Sent.insert(FState->Sent.end(), FState->Queued.begin(), FState->Queued.end());
    FState->Queued.clear();
    FState->SentWake.notify_all();
    FState->PortWake.notify_all();
}

bool TVirtualLine::FarEndReading() const {
    std::lock_guard lock(FState->Lock);
    return FState->FarEndReading;
}

void TVirtualLine::HoldWrites(bool Hold) {
    std::lock_guard lock(FState->Lock);
    FState->HoldWrites = Hold;
    FState->PortWake.notify_all();
}

bool TVirtualLine::WaitWriteHeld(std::chrono::milliseconds Timeout) {
    std::unique_lock lock(FState->Lock);
    return FState->SentWake.wait_for(lock, Timeout, [&] { return FState->WriteHeld; });
}

bool TVirtualLine::WaitOutputPurges(int Count, std::chrono::milliseconds Timeout) {
    std::unique_lock lock(FState->Lock);
    return FState->SentWake.wait_for(lock, Timeout,
                                     [&] { return FState->OutputPurges >= Count; });
}

bool TVirtualLine::IsOpen() const {
    std::lock_guard lock(FState->Lock);
    return FState->Open;
}

TLineSettings TVirtualLine::Settings() const {
    std::lock_guard lock(FState->Lock);
    return FState->Settings;
}

int TVirtualLine::SettingsWrites() const {
    std::lock_guard lock(FState->Lock);
    return FState->SettingsWrites;
}

bool TVirtualLine::DTR() const {
    std::lock_guard lock(FState->Lock);
    return FState->DTR;
}

bool TVirtualLine::RTS() const {
    std::lock_guard lock(FState->Lock);
    return FState->RTS;
}

int TVirtualLine::InputPurges() const {
    std::lock_guard lock(FState->Lock);
    return FState->InputPurges;
}

int TVirtualLine::OutputPurges() const {
    std::lock_guard lock(FState->Lock);
    return FState->OutputPurges;
}

std::unique_ptr<IDeviceLayer> CreateVirtualDeviceLayer() {
    return std::make_unique<TVirtualDeviceLayer>();
}

} // namespace volmar
