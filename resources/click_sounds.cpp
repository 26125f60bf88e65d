#include "resources/click_sounds.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace volmar {

namespace {

constexpr double kRate = kClickSampleRate;

// A reproducible noise source: the sounds are the same on every run.
class TNoise {
public:
    explicit TNoise(std::uint32_t Seed) : FState(Seed) {}
    double Next() {
        FState = FState * 1664525u + 1013904223u;
        return static_cast<double>(FState >> 8) / static_cast<double>(1u << 23) - 1.0;
    }

private:
    std::uint32_t FState;
};

// A two-pole band-pass (the usual audio cookbook form, constant peak gain).
class TBandPass {
public:
    TBandPass(double Centre, double Q) {
        const double w = 2 * std::numbers::pi * Centre / kRate;
        const double alpha = std::sin(w) / (2 * Q);
        const double a0 = 1 + alpha;
        FB0 = alpha / a0;
        FB2 = -alpha / a0;
        FA1 = -2 * std::cos(w) / a0;
        FA2 = (1 - alpha) / a0;
    }
    double Next(double X) {
        const double y = FB0 * X + FB2 * FX2 - FA1 * FY1 - FA2 * FY2;
        FX2 = FX1;
        FX1 = X;
        FY2 = FY1;
        FY1 = y;
        return y;
    }

private:
    double FB0, FB2, FA1, FA2;
    double FX1 = 0, FX2 = 0, FY1 = 0, FY2 = 0;
};

// One mechanical strike: a sharp contact transient, a burst of band-limited
// noise and a few ringing parts of the housing, all dying away fast.
struct TStrike {
    double At;       // seconds from the start
    double Level;    // relative loudness
    double Decay;    // the noise's time constant, seconds
    double Ring;     // the resonances' time constant, seconds
    std::uint32_t Seed;
};

void AddStrike(std::vector<double>& Out, const TStrike& S) {
    struct TMode {
        double Freq, Gain, DecayScale;
    };
    // A plastic case thunk, the frame's ring and the armature's metallic edge.
    static constexpr std::array<TMode, 3> kModes = {{{340, 0.30, 1.4}, {1270, 0.35, 1.0},
                                                      {3100, 0.22, 0.5}}};
    TNoise noise(S.Seed);
    TBandPass bright(2600, 0.9);
    TBandPass body(900, 1.2);
    const auto first = static_cast<std::size_t>(std::lround(S.At * kRate));
    for (std::size_t i = first; i < Out.size(); ++i) {
        const double t = static_cast<double>(i - first) / kRate;
        const double n = noise.Next();
        double v = 0;
        // Contact: the first fraction of a millisecond, almost unfiltered.
        v += 0.9 * n * std::exp(-t / 0.0004);
        v += 1.6 * bright.Next(n) * std::exp(-t / S.Decay);
        v += 1.2 * body.Next(n) * std::exp(-t / (S.Decay * 1.8));
        for (const TMode& m : kModes)
            v += m.Gain * std::sin(2 * std::numbers::pi * m.Freq * t) *
                 std::exp(-t / (S.Ring * m.DecayScale));
        Out[i] += S.Level * v;
    }
}

struct TRecipe {
    const char* Name;
    double Millis;
    std::array<TStrike, 2> Strikes;
    int StrikeCount;
};

// The slow click is the full pull-in and release of a big counter; the fast
// one only the strike of a small one, short enough for 5 ms steps.
constexpr std::array<TRecipe, kClickSoundCount> kRecipes = {{
    {"MTRSLOW",
     196,
     {{{0.0, 1.0, 0.006, 0.016, 0x5EED01u}, {0.112, 0.45, 0.004, 0.012, 0x5EED02u}}},
     2},
    {"MTRNORM",
     105,
     {{{0.0, 1.0, 0.005, 0.012, 0x5EED03u}, {0.060, 0.35, 0.003, 0.009, 0x5EED04u}}},
     2},
    {"MTRFAST", 25, {{{0.0, 1.0, 0.0025, 0.004, 0x5EED05u}, {}}}, 1},
}};

void PutLE16(QByteArray& B, std::uint16_t V) {
    char b[2];
    qToLittleEndian(V, b);
    B.append(b, 2);
}

void PutLE32(QByteArray& B, std::uint32_t V) {
    char b[4];
    qToLittleEndian(V, b);
    B.append(b, 4);
}

QByteArray Synthesise(TClickSound Sound) {
    const TRecipe& r = kRecipes[Sound];
    std::vector<double> wave(static_cast<std::size_t>(ClickSoundSamples(Sound)), 0.0);
    for (int s = 0; s < r.StrikeCount; ++s) AddStrike(wave, r.Strikes[static_cast<std::size_t>(s)]);

    // The last 2 ms fade to silence so that the sound never stops on a step.
    const std::size_t fade = std::min<std::size_t>(wave.size(), std::lround(0.002 * kRate));
    for (std::size_t k = 0; k < fade; ++k) {
        const double g = 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(k) /
                                              static_cast<double>(fade));
        wave[wave.size() - 1 - k] *= g;
    }
    double peak = 0;
    for (double v : wave) peak = std::max(peak, std::abs(v));
    const double gain = peak > 0 ? 0.8 * 32767.0 / peak : 0.0;

    const auto dataBytes = static_cast<std::uint32_t>(wave.size() * 2);
    QByteArray b;
    b.reserve(static_cast<qsizetype>(44 + dataBytes));
    b.append("RIFF", 4);
    PutLE32(b, 36 + dataBytes);
    b.append("WAVE", 4);
    b.append("fmt ", 4);
    PutLE32(b, 16);
    PutLE16(b, 1); // PCM
    PutLE16(b, 1); // mono
    PutLE32(b, kClickSampleRate);
    PutLE32(b, kClickSampleRate * 2); // bytes per second
    PutLE16(b, 2);                    // bytes per sample frame
    PutLE16(b, 16);                   // bits per sample
    b.append("data", 4);
    PutLE32(b, dataBytes);
    for (double v : wave) {
        const long s = std::clamp(std::lround(v * gain), -32768L, 32767L);
        PutLE16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(s)));
    }
    return b;
}

} // namespace

const char* ClickSoundName(TClickSound Sound) { return kRecipes[Sound].Name; }

int ClickSoundSamples(TClickSound Sound) {
    return static_cast<int>(std::lround(kRecipes[Sound].Millis * kRate / 1000.0));
}

QByteArray ClickSoundWave(TClickSound Sound) {
    static const std::array<QByteArray, kClickSoundCount> waves = {
        Synthesise(csMtrSlow), Synthesise(csMtrNorm), Synthesise(csMtrFast)};
    return waves[Sound];
}

} // namespace volmar
